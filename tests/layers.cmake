# Folders are layers: core (std only) <- platform <- net and serial <- gui,
# service and hub, the front ends, which never include each other; the tools
# sit on core, platform and serial. Fails on any include that runs the other way, and on any Qt header
# in core. Run: cmake -DSRC=<source dir> -P layers.cmake
if(NOT SRC)
  message(FATAL_ERROR "give -DSRC=<source dir>")
endif()

# Project folders each layer must not include from.
set(forbidden_core platform net serial gui service hub tools)
set(forbidden_platform net serial gui service hub tools)
set(forbidden_net serial gui service hub tools)
set(forbidden_serial net gui service hub tools)
set(forbidden_gui service hub tools)
set(forbidden_service gui hub)
set(forbidden_hub gui service)
set(forbidden_tools gui service hub)

set(problems "")
foreach(layer core platform net serial gui service hub tools)
  file(GLOB_RECURSE files LIST_DIRECTORIES false
       "${SRC}/${layer}/*.h" "${SRC}/${layer}/*.cpp" "${SRC}/${layer}/*.h.in")
  foreach(f IN LISTS files)
    file(STRINGS "${f}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    file(RELATIVE_PATH rel "${SRC}" "${f}")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*" "\\1" target "${line}")
      if(layer STREQUAL "core" AND target MATCHES "^(Q|qt)")
        list(APPEND problems "${rel}: Qt in the core: ${target}")
      endif()
      foreach(up IN LISTS forbidden_${layer})
        if(target MATCHES "^${up}/")
          list(APPEND problems "${rel}: ${layer}/ includes from ${up}/: ${target}")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()

if(problems)
  list(JOIN problems "\n" text)
  message(FATAL_ERROR "include arrows against the layers:\n${text}")
endif()
message(STATUS "every include runs down the layers; no Qt in core/")
