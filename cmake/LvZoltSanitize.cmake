# Instrumented builds, in one place. LV_ZOLT_SANITIZE names the sanitizers as
# -fsanitize= takes them ("address,undefined", "thread"); every target is
# compiled and linked with them. LV_ZOLT_FUZZ adds libFuzzer's coverage hooks.
set(LV_ZOLT_SANITIZE "" CACHE STRING
    "Sanitizers for every target, as -fsanitize= takes them; empty for none")
if(LV_ZOLT_SANITIZE)
  add_compile_options(-fsanitize=${LV_ZOLT_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${LV_ZOLT_SANITIZE})
  if(LV_ZOLT_SANITIZE MATCHES "address|undefined")
    add_compile_options(-fno-sanitize-recover=all)
  endif()
  # gcc reports false maybe-uninitialized warnings in libstdc++ under ASan;
  # the plain gcc build still checks them.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND LV_ZOLT_SANITIZE MATCHES "address")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  # clang's function-type check: the recording driver defines the driver's
  # operations with a wider return type and an integer handle on purpose.
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND LV_ZOLT_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize=function)
  endif()
endif()
if(LV_ZOLT_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
