# Warnings are errors on every compiler the project builds with.
function(lv_zolt_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wcast-align
    $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast> -Werror)
endfunction()
