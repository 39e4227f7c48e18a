# Runtime search paths under our control: a program finds a library in its
# own folder first, then the folders named. The automatic build-tree path
# would list every linked folder in an order that could pick the wrong zolt.
function(lv_zolt_runtime_path target)
  if(NOT WIN32)
    string(JOIN ";" paths "$ORIGIN" ${ARGN})
    set_target_properties(${target} PROPERTIES
      BUILD_WITH_INSTALL_RPATH ON
      INSTALL_RPATH "${paths}")
  endif()
endfunction()
