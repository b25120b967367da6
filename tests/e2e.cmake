# End to end through acs-host, which exists only when the tools are built:
# the reference back end, and a strict back end written from DB2's
# published protocol alone, each through the library and called directly.
if(TARGET acs-host AND TARGET qxacsint_example)
  add_library(e2e_host_run STATIC e2e/host_run.cpp)
  target_link_libraries(e2e_host_run PUBLIC zorvan_test_support)
  target_compile_definitions(e2e_host_run PRIVATE ACS_HOST_PATH="$<TARGET_FILE:acs-host>")

  zorvan_add_test(test_e2e SOURCES e2e/acs_host_test.cpp LIBS e2e_host_run acs_tool_headers)
  target_include_directories(test_e2e PRIVATE ${PROJECT_SOURCE_DIR}/examples/backend
                             ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
  target_compile_definitions(test_e2e PRIVATE BACKEND_EXAMPLE="$<TARGET_FILE:qxacsint_example>")
  add_dependencies(test_e2e acs-host qxacsint_example)

  # Set-user-ID and set-group-ID copies of acs-host run by another user.
  zorvan_add_test(test_setuid_host SOURCES e2e/setuid_host_test.cpp)
  target_include_directories(test_setuid_host PRIVATE ${PROJECT_SOURCE_DIR}/examples/backend)
  target_compile_definitions(test_setuid_host PRIVATE
    ACS_HOST_PATH="$<TARGET_FILE:acs-host>"
    BACKEND_EXAMPLE="$<TARGET_FILE:qxacsint_example>"
    ZORVAN_SANITIZE="${SANITIZE}")
  add_dependencies(test_setuid_host acs-host qxacsint_example)
  if(TARGET acs-doctor)
    target_compile_definitions(test_setuid_host PRIVATE ACS_DOCTOR_PATH="$<TARGET_FILE:acs-doctor>")
    target_link_libraries(test_setuid_host PRIVATE nlohmann_json::nlohmann_json)
    add_dependencies(test_setuid_host acs-doctor)
  endif()
endif()

# The strict back end, as libqxacsint.so in a directory of its own.
if(TARGET acs-host AND TARGET qxacsint_example)
  add_library(strict_backend SHARED e2e/strict_backend.cpp)
  target_link_libraries(strict_backend PRIVATE acs_tool_headers)
  set_target_properties(strict_backend PROPERTIES
    OUTPUT_NAME qxacsint
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/strict-backend"
    CXX_VISIBILITY_PRESET hidden)

  zorvan_add_test(test_strict_backend SOURCES e2e/strict_backend_test.cpp
                  LIBS e2e_host_run acs_tool_headers ${CMAKE_DL_LIBS})
  target_include_directories(test_strict_backend PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
  target_compile_definitions(test_strict_backend PRIVATE
    STRICT_BACKEND="$<TARGET_FILE:strict_backend>"
    BACKEND_EXAMPLE="$<TARGET_FILE:qxacsint_example>")
  add_dependencies(test_strict_backend acs-host strict_backend qxacsint_example)
endif()

zorvan_add_test(test_man_codes SOURCES e2e/man_codes_test.cpp)
target_include_directories(test_man_codes PRIVATE ${PROJECT_SOURCE_DIR}/tools/common)
target_compile_definitions(test_man_codes PRIVATE
  ACS_HOST_MAN_PAGE="${PROJECT_SOURCE_DIR}/docs/man/acs-host.1")
