# What the Windows toolchains share; the including file sets LV_ZOLT_MINGW
# to the target triplet. GoogleTest needs std::mutex, which only the
# compilers of the "posix" thread model provide; their pthread emulation is
# linked statically, like the rest of the compiler runtime.
set(CMAKE_SYSTEM_NAME Windows)
find_program(CMAKE_C_COMPILER NAMES ${LV_ZOLT_MINGW}-gcc-posix ${LV_ZOLT_MINGW}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${LV_ZOLT_MINGW}-g++-posix ${LV_ZOLT_MINGW}-g++ REQUIRED)
set(CMAKE_RC_COMPILER ${LV_ZOLT_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LV_ZOLT_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# A host machine has no compiler runtime DLLs (libgcc_s_*, libstdc++-*,
# libwinpthread-*): whatever of them a program or library needs is linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)
