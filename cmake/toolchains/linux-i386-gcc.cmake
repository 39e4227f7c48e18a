# Linux i386 (32-bit slots, cdecl), built by the host's gcc with -m32. This
# kernel cannot start 32-bit programs itself, so they run under qemu.
include(${CMAKE_CURRENT_LIST_DIR}/linux-i386.cmake)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
