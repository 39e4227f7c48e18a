# Windows i686: the library's real home, a 32-bit process with cdecl slots.
# No Windows runs it here: its build is inspected, and its exports and entry
# routine run in a CPU emulator (tests/emulator).
set(LV_ZOLT_MINGW i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
