# The shared object's binary interface, read from its own ELF file, and
# the control block as hosts of either byte order lay it out.
zorvan_add_test(test_abi SOURCES abi/library_abi_test.cpp abi/elf_image.cpp)
target_compile_definitions(test_abi PRIVATE ZORVAN_SANITIZE="${SANITIZE}")

zorvan_add_test(test_byte_order SOURCES abi/byte_order_test.cpp LIBS zorvan_internal)

# The glibc 2.17 baseline of what we ship. Only a release build (made in
# the Debian 11 build root by scripts/release.sh) can meet it; a build on
# a newer system inherits that system's symbol versions.
if(ZORVAN_RELEASE_BUILD AND TARGET acs-host AND TARGET acs-doctor AND TARGET qxacsint_example)
  # It only reads files, never the trace file or the markers, and keeps
  # the caller's /tmp: the packaging test hands it trees unpacked there.
  add_executable(test_baseline abi/baseline_test.cpp abi/elf_image.cpp)
  target_link_libraries(test_baseline PRIVATE GTest::gtest)
  gtest_discover_tests(test_baseline DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  target_compile_definitions(test_baseline PRIVATE
    ZORVAN_LIBRARY_PATH="$<TARGET_FILE:zorvan_db2acs>"
    ZORVAN_BACKEND_PATH="$<TARGET_FILE:qxacsint_example>"
    ZORVAN_HOST_PATH="$<TARGET_FILE:acs-host>"
    ZORVAN_DOCTOR_PATH="$<TARGET_FILE:acs-doctor>")
  add_dependencies(test_baseline zorvan_db2acs acs-host acs-doctor qxacsint_example)
endif()
