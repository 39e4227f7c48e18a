# Warnings; errors with LV_ZOLT_WERROR, which the presets and CI turn on. Off
# by default, so that a build from source with another compiler is not
# stopped by a warning that compiler adds.
option(LV_ZOLT_WERROR "Treat warnings as errors" OFF)

# gcc 12 at -O3 reports -Wrestrict on its own std::string concatenation
# (a literal + a temporary string), code that is correct: the warning is
# turned off for that compiler only.
set(LV_ZOLT_NO_FALSE_WARNINGS)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  set(LV_ZOLT_NO_FALSE_WARNINGS $<$<COMPILE_LANGUAGE:CXX>:-Wno-restrict>)
endif()

function(lv_zolt_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wcast-align
    $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast> ${LV_ZOLT_NO_FALSE_WARNINGS}
    $<$<BOOL:${LV_ZOLT_WERROR}>:-Werror>)
endfunction()
