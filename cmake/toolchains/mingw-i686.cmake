# Windows i686: the library's real home, a 32-bit process with cdecl slots.
# Nothing here can run it, so its build is inspected, not tested.
set(LV_ZOLT_MINGW i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
