# Warnings; errors with LV_ZOLT_WERROR, which the presets and CI turn on. Off
# by default, so that a build from source with another compiler is not
# stopped by a warning that compiler adds.
option(LV_ZOLT_WERROR "Treat warnings as errors" OFF)

function(lv_zolt_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wcast-align
    $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast> $<$<BOOL:${LV_ZOLT_WERROR}>:-Werror>)
endfunction()
