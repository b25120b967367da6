# GoogleTest: the system's build when there is one for this target,
# otherwise built from Debian's source package (/usr/src/googletest), which
# is what cross builds use.
option(ZORVAN_GTEST_FROM_SOURCE "Build GoogleTest from /usr/src/googletest" OFF)
if(NOT ZORVAN_GTEST_FROM_SOURCE)
  find_package(GTest QUIET)
endif()
if(NOT TARGET GTest::gtest OR NOT TARGET GTest::gmock)
  set(ZORVAN_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  # GoogleTest's own code is not held to our warning flags.
  get_directory_property(_zorvan_opts COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  add_subdirectory(${ZORVAN_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${_zorvan_opts}")
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gmock ALIAS gmock)
  endif()
endif()
