# acs-doctor, run as a child process against installations laid out in
# each test's private /tmp.
if(TARGET acs-doctor AND TARGET qxacsint_example)
  include(${PROJECT_SOURCE_DIR}/examples/backend/BackendVariants.cmake)
  zorvan_backend_variant(doctor_backend_no_verify
    "${CMAKE_CURRENT_BINARY_DIR}/doctor/no-verify" OMIT db2ACSVerifypp)

  zorvan_add_test(doctor_test
    SOURCES doctor/doctor_test.cpp doctor/doctor_identity_test.cpp doctor/doctor_fixture.cpp)
  target_include_directories(doctor_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/doctor)
  target_link_libraries(doctor_test PRIVATE nlohmann_json::nlohmann_json)
  target_compile_definitions(doctor_test PRIVATE
    ACS_DOCTOR_PATH="$<TARGET_FILE:acs-doctor>"
    GOOD_BACKEND="$<TARGET_FILE:qxacsint_example>"
    NO_VERIFY_BACKEND="$<TARGET_FILE:doctor_backend_no_verify>")
  add_dependencies(doctor_test acs-doctor qxacsint_example doctor_backend_no_verify)

  # The trace explainer, on traces acs-host makes with the library.
  zorvan_add_test(doctor_trace_test SOURCES doctor/doctor_trace_test.cpp doctor/doctor_fixture.cpp)
  target_include_directories(doctor_trace_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/doctor
                             ${PROJECT_SOURCE_DIR}/examples/backend)
  target_link_libraries(doctor_trace_test PRIVATE nlohmann_json::nlohmann_json acs_tool_headers)
  target_compile_definitions(doctor_trace_test PRIVATE
    ACS_DOCTOR_PATH="$<TARGET_FILE:acs-doctor>"
    ACS_HOST_PATH="$<TARGET_FILE:acs-host>"
    GOOD_BACKEND="$<TARGET_FILE:qxacsint_example>"
    NO_VERIFY_BACKEND="$<TARGET_FILE:doctor_backend_no_verify>")
  add_dependencies(doctor_trace_test acs-doctor acs-host qxacsint_example doctor_backend_no_verify)
endif()
