# The Windows DLL. Its .def, generated from the public header, fixes the 24
# export names, undecorated. The C runtime start-up is the library's only
# entry routine: it defines no DllMain, so the runtime's default one (which
# reports success) is linked; the link map records where each piece came
# from, for the checks.
set(LV_ZOLT_DEF_FILE ${CMAKE_CURRENT_BINARY_DIR}/LV_zolt.def CACHE INTERNAL "")
add_custom_command(
  OUTPUT ${LV_ZOLT_DEF_FILE}
  COMMAND ${Python3_EXECUTABLE} ${LV_ZOLT_HEADER_READER} def ${LV_ZOLT_HEADER} -o ${LV_ZOLT_DEF_FILE}
  DEPENDS ${LV_ZOLT_HEADER} ${LV_ZOLT_HEADER_READER}
  COMMENT "LV_zolt.def from the header"
  VERBATIM)
target_sources(LV_zolt PRIVATE ${LV_ZOLT_DEF_FILE})
target_link_options(LV_zolt PRIVATE -Wl,-Map=${CMAKE_CURRENT_BINARY_DIR}/LV_zolt.map)

# LV_zolt binds zolt.dll by name through an import library made from a .def
# of the driver's 24 operations (the export names without "LV_"), so the
# build needs nothing of the driver.
if(NOT CMAKE_DLLTOOL)
  string(REGEX REPLACE "-g(cc|\\+\\+)(-[a-z0-9]+)?$" "-dlltool" dlltool "${CMAKE_CXX_COMPILER}")
  find_program(CMAKE_DLLTOOL NAMES ${dlltool} dlltool REQUIRED)
endif()
set(zolt_def ${CMAKE_BINARY_DIR}/link-stub/zolt.def)
set(zolt_import ${CMAKE_BINARY_DIR}/link-stub/libzolt.dll.a)
add_custom_command(
  OUTPUT ${zolt_import}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/link-stub
  COMMAND ${Python3_EXECUTABLE} ${LV_ZOLT_HEADER_READER} driver-def ${LV_ZOLT_HEADER} -o ${zolt_def}
  COMMAND ${CMAKE_DLLTOOL} --input-def ${zolt_def} --dllname zolt.dll --output-lib ${zolt_import}
  DEPENDS ${LV_ZOLT_HEADER} ${LV_ZOLT_HEADER_READER}
  COMMENT "Import library for zolt.dll from the header"
  VERBATIM)
add_custom_target(zolt_import_library DEPENDS ${zolt_import})
add_library(zolt_driver INTERFACE)
target_link_libraries(zolt_driver INTERFACE ${zolt_import})
add_dependencies(zolt_driver zolt_import_library)
