# Stack bound: gcc measures every function's frame (-fstack-usage) and the
# build fails if any export's frame exceeds LV_ZOLT_STACK_BOUND bytes or has
# no bound. A frame holds the export's record (24 bytes at most), the
# out-pointers it keeps in memory over the driver call (seven at most: 56
# bytes with 64-bit pointers) and the return address (8), rounded up to the
# 16-byte stack alignment: 96 bytes. Measured on optimised, uninstrumented
# builds only.
set(LV_ZOLT_STACK_BOUND 96 CACHE STRING "Largest stack frame an export may have, in bytes")

function(lv_zolt_stack_bound target)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR LV_ZOLT_SANITIZE OR LV_ZOLT_COVERAGE
     OR CMAKE_BUILD_TYPE STREQUAL "Debug")
    return()
  endif()
  target_compile_options(${target} PRIVATE -fstack-usage)
  add_custom_target(${target}_stack_bound ALL
    COMMAND ${CMAKE_COMMAND} "-DOBJECTS=$<TARGET_OBJECTS:${target}>"
            -DBOUND=${LV_ZOLT_STACK_BOUND} -DREPORT=${CMAKE_BINARY_DIR}/stack-usage.txt
            -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/CheckStackUsage.cmake
    COMMENT "Checking the exports' stack frames against ${LV_ZOLT_STACK_BOUND} bytes"
    VERBATIM)
  add_dependencies(${target}_stack_bound ${target})
endfunction()
