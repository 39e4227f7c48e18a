# cmake -DOBJECTS=<objects> -DBOUND=<bytes> -DREPORT=<file> -P CheckStackUsage.cmake
# Reads the .su file gcc wrote beside each object, writes every export's
# frame size to REPORT, and fails if an export's frame exceeds BOUND bytes or
# is unbounded, if not all 24 exports were measured, or if any other function
# of the layer was left out of line.
set(report "")
set(over "")
set(count 0)
foreach(object IN LISTS OBJECTS)
  string(REGEX REPLACE "\\.(o|obj)$" ".su" su "${object}")
  if(NOT EXISTS "${su}")
    message(FATAL_ERROR "stack bound: no stack usage file beside ${object}")
  endif()
  file(STRINGS "${su}" entries)
  foreach(entry IN LISTS entries)
    # <file>:<line>:<column>:<signature> TAB <bytes> TAB <static|dynamic[,bounded]>
    if(entry MATCHES "[ :](LV_ZOLT_[A-Za-z]+)\\([^\t]*\t([0-9]+)\t([a-z,]+)$")
      set(name ${CMAKE_MATCH_1})
      set(bytes ${CMAKE_MATCH_2})
      set(kind ${CMAKE_MATCH_3})
      math(EXPR count "${count} + 1")
      string(APPEND report "${name} ${bytes} ${kind}\n")
      if(bytes GREATER BOUND OR kind STREQUAL "dynamic")
        string(APPEND over "  ${name}: ${bytes} bytes (${kind})\n")
      endif()
    elseif(entry MATCHES "\t[0-9]+\t")
      # An out-of-line helper adds its frame to the export that calls it, so
      # the export's own figure would understate its use of the stack.
      string(APPEND over "  not inlined into its export: ${entry}\n")
    endif()
  endforeach()
endforeach()
file(WRITE "${REPORT}" "${report}")
if(NOT count EQUAL 24)
  message(FATAL_ERROR "stack bound: measured ${count} exports, not 24; see ${REPORT}")
endif()
if(over)
  message(FATAL_ERROR "stack bound: frames above ${BOUND} bytes or unbounded:\n${over}")
endif()
