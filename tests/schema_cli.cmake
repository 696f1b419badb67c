# Every sample through linewarden-replay: the board lines, the events and the
# retained documents validate against docs/schema/ (and so do the MQTT
# retained payloads of tests/data/mqtt/board.expected), and the events and the
# retained documents match their golden files in tests/data/.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(GLOB samples "${SRC}/samples/*.cap")
set(check)
foreach(cap ${samples})
  get_filename_component(name "${cap}" NAME_WE)
  execute_process(COMMAND ${REPLAY} "${cap}" --board "${WORK}/${name}.jsonl"
                    --events "${WORK}/${name}.events" --retained "${WORK}/${name}.retained"
                  RESULT_VARIABLE rc ERROR_VARIABLE err TIMEOUT 60)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "linewarden-replay ${cap}: exit ${rc}\n${err}")
  endif()
  foreach(kind events retained)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
      "${WORK}/${name}.${kind}" "${SRC}/tests/data/${name}.${kind}" RESULT_VARIABLE differs)
    if(differs)
      message(FATAL_ERROR "${WORK}/${name}.${kind} differs from tests/data/${name}.${kind}")
    endif()
  endforeach()
  list(APPEND check board "${WORK}/${name}.jsonl" event "${WORK}/${name}.events"
                    retained "${WORK}/${name}.retained")
endforeach()
# The MQTT retained payloads' golden file too.
list(APPEND check retained "${SRC}/tests/data/mqtt/board.expected")
execute_process(COMMAND ${PYTHON} "${SRC}/tests/schema_check.py" "${SRC}/docs/schema" ${check}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(rc EQUAL 77)
  message("SKIP: python3-jsonschema is missing")
elseif(NOT rc EQUAL 0)
  message(FATAL_ERROR "documents do not match docs/schema/")
endif()
