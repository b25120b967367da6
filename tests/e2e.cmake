# End to end through acs-host, which exists only when the tools are built.
if(TARGET acs-host AND TARGET qxacsint_example)
  zorvan_add_test(test_e2e SOURCES e2e/acs_host_test.cpp)
  target_include_directories(test_e2e PRIVATE ${PROJECT_SOURCE_DIR}/examples/backend)
  target_compile_definitions(test_e2e PRIVATE
    ACS_HOST_PATH="$<TARGET_FILE:acs-host>"
    BACKEND_EXAMPLE="$<TARGET_FILE:qxacsint_example>")
  add_dependencies(test_e2e acs-host qxacsint_example)

  # Set-user-ID and set-group-ID copies of acs-host run by another user.
  zorvan_add_test(test_setuid_host SOURCES e2e/setuid_host_test.cpp)
  target_include_directories(test_setuid_host PRIVATE ${PROJECT_SOURCE_DIR}/examples/backend)
  target_compile_definitions(test_setuid_host PRIVATE
    ACS_HOST_PATH="$<TARGET_FILE:acs-host>"
    BACKEND_EXAMPLE="$<TARGET_FILE:qxacsint_example>")
  add_dependencies(test_setuid_host acs-host qxacsint_example)
endif()
