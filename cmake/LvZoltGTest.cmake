# GoogleTest for the target. The system package holds x86-64 libraries only,
# so a build for any other target names GoogleTest's sources in
# LV_ZOLT_GTEST_SOURCE and builds them with its own toolchain.
set(LV_ZOLT_GTEST_SOURCE "" CACHE PATH
    "GoogleTest sources to build for the target instead of the system package")
if(LV_ZOLT_GTEST_SOURCE)
  if(NOT EXISTS ${LV_ZOLT_GTEST_SOURCE}/googletest/CMakeLists.txt)
    message(FATAL_ERROR "LV_ZOLT_GTEST_SOURCE=${LV_ZOLT_GTEST_SOURCE} holds no GoogleTest sources")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # SYSTEM: its headers are not held to the project's warnings.
  add_subdirectory(${LV_ZOLT_GTEST_SOURCE}/googletest ${CMAKE_BINARY_DIR}/googletest
                   EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest)  # older GoogleTest releases define no aliases
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()
