# linewarden-report as a user runs it: the samples through linewarden-replay
# and the report against their expected facts, bad arguments, and the page of
# the generated night (left in WORK by report_tests) in headless Chromium.

function(run_report code)
  execute_process(COMMAND ${REPORT} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE err TIMEOUT 120)
  if(NOT rc EQUAL ${code})
    message(FATAL_ERROR "linewarden-report ${ARGN}: exit ${rc}, expected ${code}\n${err}")
  endif()
  set(last_out "${out}" PARENT_SCOPE)
  set(last_err "${err}" PARENT_SCOPE)
endfunction()

function(same a b)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${a}" "${b}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${a} differs from ${b}")
  endif()
endfunction()

# The samples: replayed with every kind of record on, then reported; a capture
# given straight to the report reads the same records.
foreach(sample failure noisy show-night)
  set(log "${WORK}/${sample}.log")
  file(REMOVE "${log}")
  execute_process(COMMAND ${REPLAY} "${SRC}/samples/${sample}.cap" --raw --noise --activity
                  --log "${log}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "replay of ${sample} failed")
  endif()
  run_report(0 "${log}" --json -o "${WORK}/${sample}.json")
  same("${WORK}/${sample}.json" "${SRC}/tests/data/report/${sample}.json")
  run_report(0 "${SRC}/samples/${sample}.cap" --json)
  string(REGEX REPLACE "\"(source|bytes|lines)\": [^,]*" "" a "${last_out}")
  file(READ "${WORK}/${sample}.json" want)
  string(REGEX REPLACE "\"(source|bytes|lines)\": [^,]*" "" b "${want}")
  if(NOT a STREQUAL b)
    message(FATAL_ERROR "the capture ${sample}.cap reports other facts than its log")
  endif()
endforeach()

# One clear line and exit 2 for what cannot be done.
foreach(bad "no-such.log" "--night;2026-13-01" "--night;2026-12-08T12:00" "--from;2026-12-08"
        "--from;2026-12-08;--to;2026-12-07" "--night;2026-12-08;--from;2026-12-08;--to;2026-12-09"
        "--bogus" "-o" "${WORK}/failure.log;-o;${WORK}/missing/dir/x.html" "${WORK}")
  run_report(2 ${bad})
  string(REGEX MATCHALL "\n" lines "${last_err}")
  list(LENGTH lines n)
  if(NOT n EQUAL 1 OR NOT last_err MATCHES "^linewarden-report: ")
    message(FATAL_ERROR "${bad}: not one clear line: ${last_err}")
  endif()
endforeach()
run_report(0 --help)
run_report(0 --version)
if(NOT last_out MATCHES "^linewarden-report [0-9]")
  message(FATAL_ERROR "--version: ${last_out}")
endif()
# A night with nothing in it is no all clear.
run_report(0 "${WORK}/failure.log" --night 2002-03-05 --json)
if(NOT last_out MATCHES "\"verdict\": \"NO RECORDS\"")
  message(FATAL_ERROR "an empty night: ${last_out}")
endif()

# The generated night's page.
set(page "${WORK}/night.html")
run_report(0 "${WORK}/night.log" -o "${page}" --title "Odeon — screens 1 to 16")
find_program(CHROMIUM NAMES chromium chromium-browser)
if(NOT CHROMIUM)
  message(STATUS "chromium is not installed (scripts/deps installs it)")
  return()
endif()
# A4 landscape at 96 dots an inch.
set(chrome ${CHROMIUM} --headless --no-sandbox --disable-gpu --no-first-run
    --user-data-dir=${WORK}/chromium --window-size=1123,794)

execute_process(COMMAND ${chrome} --enable-logging=stderr --v=0 --dump-dom "${page}"
                OUTPUT_VARIABLE dom ERROR_VARIABLE log TIMEOUT 60)
if(log MATCHES "CONSOLE")
  message(FATAL_ERROR "the page logged to the console:\n${log}")
endif()

# The expected failures, measured on the drawn page.
file(READ "${SRC}/tests/data/report/generated-night.json" facts)
string(JSON nfail LENGTH "${facts}" failures)
string(JSON nunits LENGTH "${facts}" units)
set(expected "")
math(EXPR last "${nfail} - 1")
foreach(i RANGE ${last})
  string(JSON unit GET "${facts}" failures ${i} unit)
  string(JSON time GET "${facts}" failures ${i} time)
  string(SUBSTRING "${time}" 11 8 time)
  string(APPEND expected "[\"${unit}\",\"${time}\"],")
endforeach()
file(READ "${SRC}/tests/data/report/probe.js" probe)
string(REPLACE "@EXPECTED@" "[${expected}]" probe "${probe}")
file(READ "${page}" html)
string(REGEX REPLACE "<meta http-equiv=\"Content-Security-Policy\"[^>]*>" "" html "${html}")
string(REPLACE "</body>" "<script>${probe}</script></body>" html "${html}")
file(WRITE "${WORK}/night-probe.html" "${html}")
execute_process(COMMAND ${chrome} --dump-dom "${WORK}/night-probe.html" OUTPUT_VARIABLE dom
                ERROR_QUIET TIMEOUT 60)
string(REGEX MATCH "<pre id=\"probe\">[^<]*" found "${dom}")
set(want "<pre id=\"probe\">lanes ${nunits}; failures ${nfail}/${nfail} of ${nfail}; width fits")
if(NOT found STREQUAL want)
  message(FATAL_ERROR "page check: ${found}\n           want: ${want}")
endif()

# A picture and a print for people to look at; the print is one page.
file(REMOVE "${WORK}/night.png" "${WORK}/night.pdf")
execute_process(COMMAND ${chrome} --screenshot=${WORK}/night.png "${page}" OUTPUT_QUIET ERROR_QUIET
                TIMEOUT 60)
execute_process(COMMAND ${chrome} --no-pdf-header-footer --print-to-pdf=${WORK}/night.pdf "${page}"
                OUTPUT_QUIET ERROR_QUIET TIMEOUT 60)
if(NOT EXISTS "${WORK}/night.png")
  message(FATAL_ERROR "no screenshot")
endif()
file(STRINGS "${WORK}/night.pdf" count REGEX "/Count [0-9]+")
if(NOT count MATCHES "/Count 1([^0-9]|$)")
  message(FATAL_ERROR "the print is not one page: ${count}")
endif()
message(STATUS "page checks passed; ${WORK}/night.png and night.pdf")
