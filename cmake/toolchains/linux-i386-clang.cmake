# Linux i386 (32-bit slots, cdecl), built by the host's clang with -m32.
include(${CMAKE_CURRENT_LIST_DIR}/linux-i386.cmake)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
