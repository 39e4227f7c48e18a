# lv_zolt_driver_library(TARGET FOLDER dir)
# Makes TARGET one of our zolt drivers: a library named zolt, built into
# FOLDER (a folder of its own, so that nothing loads it by accident), whose
# only visible names are the ones it exports on purpose, and which leaves no
# name undefined.
function(lv_zolt_driver_library target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "FOLDER" "")
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME zolt
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${arg_FOLDER}
    RUNTIME_OUTPUT_DIRECTORY ${arg_FOLDER}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${target}-import)
  if(NOT WIN32)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
  lv_zolt_warnings(${target})
endfunction()

# lv_zolt_install_driver(TARGET DESTINATION dir COMPONENT name MARKER symbol
#                        WHAT text NOTE text [MANUAL header])
# Installs one of our zolt drivers into DESTINATION, with its manual (its
# header) beside it when given. The install stops rather than replace a zolt
# there that does not export MARKER, a name only that driver has: such a
# file is a host's real driver.
function(lv_zolt_install_driver target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESTINATION;COMPONENT;MARKER;WHAT;NOTE;MANUAL" "")
  set(LV_ZOLT_GUARD_DESTINATION ${arg_DESTINATION})
  set(LV_ZOLT_GUARD_FILE $<TARGET_FILE_NAME:${target}>)
  set(LV_ZOLT_GUARD_MARKER ${arg_MARKER})
  set(LV_ZOLT_GUARD_WHAT ${arg_WHAT})
  set(LV_ZOLT_GUARD_NOTE ${arg_NOTE})
  set(guard ${CMAKE_BINARY_DIR}/install-guards/${target}.cmake)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/driver_guard.cmake.in ${guard}.in @ONLY)
  file(GENERATE OUTPUT ${guard} INPUT ${guard}.in)
  install(SCRIPT ${guard} COMPONENT ${arg_COMPONENT})
  install(FILES $<TARGET_FILE:${target}>
    DESTINATION ${arg_DESTINATION} COMPONENT ${arg_COMPONENT}
    PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  if(arg_MANUAL)
    install(FILES ${arg_MANUAL} DESTINATION ${arg_DESTINATION} COMPONENT ${arg_COMPONENT})
  endif()
endfunction()
