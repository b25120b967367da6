# GoogleTest: the system's build when there is one for this target,
# otherwise built from Debian's source package (/usr/src/googletest), which
# is what cross builds use. Neither (or CMAKE_DISABLE_FIND_PACKAGE_GTest
# without ZORVAN_GTEST_FROM_SOURCE): no GTest targets, and no test suite.
option(ZORVAN_GTEST_FROM_SOURCE "Build GoogleTest from /usr/src/googletest" OFF)
if(NOT ZORVAN_GTEST_FROM_SOURCE)
  # GoogleTest's own package file: gtest and gmock alike. (CMake's
  # FindGTest module gives gmock no target before CMake 3.20.)
  find_package(GTest CONFIG QUIET)
endif()
set(ZORVAN_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
if((NOT TARGET GTest::gtest OR NOT TARGET GTest::gmock) AND EXISTS "${ZORVAN_GTEST_SOURCE}/CMakeLists.txt"
   AND (ZORVAN_GTEST_FROM_SOURCE OR NOT CMAKE_DISABLE_FIND_PACKAGE_GTest))
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  # GoogleTest's own code is not held to our warning flags.
  get_directory_property(_zorvan_opts COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  add_subdirectory(${ZORVAN_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${_zorvan_opts}")
  foreach(lib gtest gmock)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endif()
