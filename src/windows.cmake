# The Windows DLL. LV_zolt.def fixes the 24 export names, undecorated. The
# C runtime start-up is the library's only entry routine: it defines no
# DllMain, so the runtime's default one (which reports success) is linked;
# the link map records where each piece came from, for the checks.
target_sources(LV_zolt PRIVATE LV_zolt.def)
target_link_options(LV_zolt PRIVATE -Wl,-Map=${CMAKE_CURRENT_BINARY_DIR}/LV_zolt.map)

# LV_zolt binds zolt.dll by name through an import library made from a .def
# of the driver's 24 operations, so the build needs nothing of the driver.
if(NOT CMAKE_DLLTOOL)
  string(REGEX REPLACE "-g(cc|\\+\\+)(-[a-z0-9]+)?$" "-dlltool" dlltool "${CMAKE_CXX_COMPILER}")
  find_program(CMAKE_DLLTOOL NAMES ${dlltool} dlltool REQUIRED)
endif()
set(zolt_import ${CMAKE_BINARY_DIR}/link-stub/libzolt.dll.a)
add_custom_command(
  OUTPUT ${zolt_import}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/link-stub
  COMMAND ${CMAKE_DLLTOOL} --input-def ${CMAKE_CURRENT_SOURCE_DIR}/driver/zolt.def
          --dllname zolt.dll --output-lib ${zolt_import}
  DEPENDS driver/zolt.def
  COMMENT "Import library for zolt.dll"
  VERBATIM)
add_custom_target(zolt_import_library DEPENDS ${zolt_import})
add_library(zolt_driver INTERFACE)
target_link_libraries(zolt_driver INTERFACE ${zolt_import})
add_dependencies(zolt_driver zolt_import_library)
