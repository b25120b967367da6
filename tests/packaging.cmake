# The install tree and the CPack packages (tests/packaging). Slow: cpack
# first runs the build's preinstall step, so these tests carry the label
# "packaging" (ctest -LE packaging leaves them out), run one at a time and
# get a longer timeout than the other tests. Built like every test
# binary, on the private-/tmp harness.
if(TARGET acs-host AND TARGET acs-doctor AND TARGET qxacsint_example)
  find_program(ZORVAN_READELF readelf)
  find_program(ZORVAN_NM nm)
  find_program(ZORVAN_DPKG_DEB dpkg-deb)
  find_program(ZORVAN_RPM rpm)
  find_program(ZORVAN_RPMBUILD rpmbuild)
  find_program(ZORVAN_RPM2CPIO rpm2cpio)
  find_program(ZORVAN_CPIO cpio)
  if(ZORVAN_READELF AND ZORVAN_NM AND ZORVAN_DPKG_DEB AND ZORVAN_RPM AND ZORVAN_RPMBUILD
     AND ZORVAN_RPM2CPIO AND ZORVAN_CPIO)
    add_executable(packaging_test packaging/packaging_test.cpp)
    target_link_libraries(packaging_test PRIVATE zorvan_test_support)
    target_compile_definitions(packaging_test PRIVATE
      BUILD_DIR="${CMAKE_BINARY_DIR}"
      CMAKE_PATH="${CMAKE_COMMAND}"
      CPACK_PATH="${CMAKE_CPACK_COMMAND}"
      READELF_PATH="${ZORVAN_READELF}"
      NM_PATH="${ZORVAN_NM}"
      DPKG_DEB_PATH="${ZORVAN_DPKG_DEB}"
      PACKAGE_DESCRIPTION_FILE="${PROJECT_SOURCE_DIR}/packaging/description"
      RPM_PATH="${ZORVAN_RPM}"
      RPM2CPIO_PATH="${ZORVAN_RPM2CPIO}"
      CPIO_PATH="${ZORVAN_CPIO}"
      RPM_ARCH="${ZORVAN_RPM_ARCH}"
      DEB_ARCH="${ZORVAN_DEB_ARCH}"
      ZORVAN_SANITIZE="${SANITIZE}"
      ZORVAN_VERSION="${PROJECT_VERSION}")
    add_dependencies(packaging_test zorvan_db2acs acs-host acs-doctor qxacsint_example)
    if(TARGET test_baseline)
      target_compile_definitions(packaging_test PRIVATE
        BASELINE_TEST_PATH="$<TARGET_FILE:test_baseline>")
      add_dependencies(packaging_test test_baseline)
    endif()
    gtest_discover_tests(packaging_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT 900 LABELS packaging RUN_SERIAL TRUE)
  else()
    zorvan_leave_out("the packaging tests (readelf, nm, dpkg-deb, rpm, rpmbuild, rpm2cpio, cpio)"
                     "binutils, dpkg, rpm and cpio")
  endif()
endif()
