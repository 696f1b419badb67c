# Runs linewarden-replay as a user would and checks exit codes and outputs.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

function(expect_exit code)
  # A run that does not end within the timeout is a fault too.
  execute_process(COMMAND ${REPLAY} ${ARGN} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err
                  TIMEOUT 60)
  if(NOT rc EQUAL ${code})
    message(FATAL_ERROR "linewarden-replay ${ARGN}: exit ${rc}, expected ${code}\n${err}")
  endif()
  set(last_err "${err}" PARENT_SCOPE)
endfunction()

# A bad capture: exit 2, the line named, nothing written anywhere.
file(WRITE "${WORK}/bad.cap" "LINEWARDEN-CAPTURE 1\nstart 2002-03-01T22:15:07\n0 30\n10 3\n")
expect_exit(2 "${WORK}/bad.cap" --activity --log "${WORK}/bad.log" --board "${WORK}/bad.jsonl")
if(NOT last_err MATCHES "bad.cap:4:")
  message(FATAL_ERROR "error does not name line 4: ${last_err}")
endif()
if(EXISTS "${WORK}/bad.log" OR EXISTS "${WORK}/bad.jsonl")
  message(FATAL_ERROR "a bad capture wrote output")
endif()

expect_exit(2)
expect_exit(2 "${SRC}/samples/failure.cap" --until soon)
expect_exit(2 "${SRC}/samples/failure.cap" --bogus)
expect_exit(2 "${WORK}/no-such.cap")
expect_exit(0 --help)

# The sample capture gives the expected log, appended to what was there.
file(WRITE "${WORK}/run.log" "")
expect_exit(0 "${SRC}/samples/failure.cap" --activity --log "${WORK}/run.log" --board "${WORK}/run.jsonl")
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
  "${WORK}/run.log" "${SRC}/tests/data/failure-activity.log" RESULT_VARIABLE same)
if(NOT same EQUAL 0)
  message(FATAL_ERROR "activity log differs from tests/data/failure-activity.log")
endif()
file(STRINGS "${WORK}/run.jsonl" lines)
list(LENGTH lines n)
# 70 s of capture: the load line and 88 decoder ticks.
if(NOT n EQUAL 89)
  message(FATAL_ERROR "expected 89 board lines, got ${n}")
endif()

# --until rounds up to a decoder tick.
expect_exit(0 "${SRC}/samples/failure.cap" --until 801 --board "${WORK}/short.jsonl")
file(STRINGS "${WORK}/short.jsonl" lines)
list(LENGTH lines n)
if(NOT n EQUAL 3)
  message(FATAL_ERROR "--until 801: expected 3 board lines, got ${n}")
endif()

# A log that cannot be written: the run goes on, exit 1, told on stderr.
expect_exit(1 "${SRC}/samples/failure.cap" --activity --log "${WORK}/missing/dir/x.log"
            --board "${WORK}/still.jsonl")
file(STRINGS "${WORK}/still.jsonl" lines)
list(LENGTH lines n)
if(NOT n EQUAL 89)
  message(FATAL_ERROR "monitoring stopped on a log failure")
endif()
string(REGEX MATCHALL "cannot write the log" told "${last_err}")
list(LENGTH told ntold)
if(NOT ntold EQUAL 1)
  message(FATAL_ERROR "log failure told ${ntold} times, expected once")
endif()

# Offsets and --until beyond 100 days: refused at once, the line named.
file(WRITE "${WORK}/far.cap"
  "LINEWARDEN-CAPTURE 1\nstart 2002-03-01T22:15:07\n0 30697A\n1000000000000000 30697A\n")
# (No --board here: a run that went on would write gigabytes before the timeout.)
expect_exit(2 "${WORK}/far.cap")
if(NOT last_err MATCHES "far.cap:4: offset beyond 8640000000 ms")
  message(FATAL_ERROR "far offset not refused with its line: ${last_err}")
endif()
# (The reasons of every refusal are rows of tests/options_test.cpp.)
expect_exit(2 "${SRC}/samples/failure.cap" --until 9223372036854775000)

# More bytes than the ticks read: said on stderr, still exit 0.
string(REPEAT "77" 3000 flood)
file(WRITE "${WORK}/flood.cap" "LINEWARDEN-CAPTURE 1\nstart 2002-03-01T22:15:07\n0 ${flood}\n")
expect_exit(0 "${WORK}/flood.cap")
if(NOT last_err MATCHES "1976 bytes had arrived but were not decoded")
  message(FATAL_ERROR "unread bytes not told: ${last_err}")
endif()
expect_exit(0 "${WORK}/flood.cap" --until 2400)
if(NOT last_err STREQUAL "")
  message(FATAL_ERROR "a run that read everything complained: ${last_err}")
endif()
