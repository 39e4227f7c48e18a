# Windows i686: the library's real home, a 32-bit process with cdecl slots.
# No Windows runs it here: its build is inspected, and its exports and entry
# routine run in a CPU emulator (tests/emulator).
set(LV_ZOLT_MINGW i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
# A 32-bit Windows caller keeps the stack 4-aligned only, while the compiler
# assumes 16 and would place an 8-aligned record at an address 4 mod 8.
# Telling it the truth makes every function that needs more realign itself.
set(CMAKE_C_FLAGS_INIT -mincoming-stack-boundary=2)
set(CMAKE_CXX_FLAGS_INIT -mincoming-stack-boundary=2)
