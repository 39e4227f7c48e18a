# Stack bound: gcc's -Wstack-usage reports every function of the layer whose
# frame may exceed LV_ZOLT_STACK_BOUND bytes or has no bound (an error under
# LV_ZOLT_WERROR). A frame holds the export's record (24 bytes at most), the
# out-pointers it keeps over the driver call (seven at most: 56 bytes with
# 64-bit pointers) and the return address (8), rounded up to the 16-byte
# stack alignment: 96 bytes. Every helper is inlined into its export
# (tests/check_library.sh), so a function's frame is the whole of its
# export's. Measured on optimised, uninstrumented gcc builds only.
set(LV_ZOLT_STACK_BOUND 96 CACHE STRING "Largest stack frame an export may have, in bytes")

function(lv_zolt_stack_bound target)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT LV_ZOLT_SANITIZE AND NOT LV_ZOLT_COVERAGE
     AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    # -fstack-usage also writes each object's frames beside it (.su), for the
    # report of scripts/stages/53-stack.sh.
    target_compile_options(${target} PRIVATE -fstack-usage -Wstack-usage=${LV_ZOLT_STACK_BOUND})
  endif()
endfunction()
