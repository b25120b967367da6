# acs-doctor, run as a child process against installations laid out in
# each test's private /tmp.
if(TARGET acs-doctor AND TARGET qxacsint_example)
  # A back end that needs libqxdep.so, found only through LD_LIBRARY_PATH
  # (no run path), one that finds it through its run path ($ORIGIN/open,
  # then $ORIGIN/deps), one that aborts while being loaded, one that
  # never finishes loading, and one that leaves a helper process running.
  set(stub_dir "${CMAKE_CURRENT_BINARY_DIR}/doctor")
  add_library(doctor_qxdep SHARED doctor/qxdep.cpp)
  set_target_properties(doctor_qxdep PROPERTIES OUTPUT_NAME qxdep LIBRARY_OUTPUT_DIRECTORY "${stub_dir}/deps")
  zorvan_fake_backend(doctor_backend_needs_dep "${stub_dir}/needs_dep" NEEDS_DEP doctor_qxdep)
  zorvan_fake_backend(doctor_backend_run_path "${stub_dir}/run_path" NEEDS_DEP doctor_qxdep)
  set_target_properties(doctor_backend_run_path PROPERTIES SKIP_BUILD_RPATH FALSE BUILD_WITH_INSTALL_RPATH TRUE
    INSTALL_RPATH "$ORIGIN/open:$ORIGIN/deps")
  zorvan_fake_backend(doctor_backend_aborts "${stub_dir}/aborts" ABORTS)
  zorvan_fake_backend(doctor_backend_hangs "${stub_dir}/hangs" HANGS)
  zorvan_fake_backend(doctor_backend_forks "${stub_dir}/forks" FORKS)

  # Code of a hostile instance owner's: a preload that spies (and one that
  # also lies about access()), and a back end that spies as it loads.
  add_library(doctor_spy SHARED doctor/spy.cpp)
  add_library(doctor_liar SHARED doctor/spy.cpp)
  target_compile_definitions(doctor_liar PRIVATE SPY_LIES_ABOUT_ACCESS)
  zorvan_fake_backend(doctor_backend_spies "${stub_dir}/spies" SOURCES doctor/spy.cpp)
  set_target_properties(doctor_spy doctor_liar PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${stub_dir}/spy")
  # Preloaded into programs that carry no sanitizer runtime, as an
  # attacker's would be: never instrumented.
  if(SANITIZE)
    target_compile_options(doctor_spy PRIVATE -fno-sanitize=all)
    target_compile_options(doctor_liar PRIVATE -fno-sanitize=all)
    target_link_options(doctor_spy PRIVATE -fno-sanitize=all)
    target_link_options(doctor_liar PRIVATE -fno-sanitize=all)
  endif()

  zorvan_add_test(doctor_test
    SOURCES doctor/doctor_test.cpp doctor/doctor_identity_test.cpp doctor/doctor_subject_test.cpp
            doctor/doctor_trust_test.cpp doctor/doctor_hostile_test.cpp doctor/doctor_answers_test.cpp
            doctor/doctor_fixture.cpp)
  target_include_directories(doctor_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/doctor)
  target_link_libraries(doctor_test PRIVATE nlohmann_json::nlohmann_json)
  target_compile_definitions(doctor_test PRIVATE
    ACS_DOCTOR_PATH="$<TARGET_FILE:acs-doctor>"
    GOOD_BACKEND="$<TARGET_FILE:qxacsint_example>"
    NO_VERIFY_BACKEND="$<TARGET_FILE:binding_backend_no_verify>"
    NEEDS_DEP_BACKEND="$<TARGET_FILE:doctor_backend_needs_dep>"
    RUN_PATH_BACKEND="$<TARGET_FILE:doctor_backend_run_path>"
    ABORTING_BACKEND="$<TARGET_FILE:doctor_backend_aborts>"
    HANGING_BACKEND="$<TARGET_FILE:doctor_backend_hangs>"
    FORKING_BACKEND="$<TARGET_FILE:doctor_backend_forks>"
    SPYING_BACKEND="$<TARGET_FILE:doctor_backend_spies>"
    SPY_LIBRARY="$<TARGET_FILE:doctor_spy>"
    LIAR_LIBRARY="$<TARGET_FILE:doctor_liar>"
    ZORVAN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QXDEP_LIBRARY="$<TARGET_FILE:doctor_qxdep>"
    ZORVAN_SANITIZE="${SANITIZE}")
  add_dependencies(doctor_test acs-doctor qxacsint_example binding_backend_no_verify
    doctor_backend_needs_dep doctor_backend_run_path doctor_backend_aborts doctor_backend_hangs
    doctor_backend_forks doctor_backend_spies doctor_spy doctor_liar)

  # The doctor's pure parts, each from a table.
  zorvan_add_test(doctor_units_test SOURCES doctor/doctor_units_test.cpp)
  target_link_libraries(doctor_units_test PRIVATE acs_doctor_core)

  # The trace explainer, on traces acs-host makes with the library.
  zorvan_add_test(doctor_trace_test
    SOURCES doctor/doctor_trace_test.cpp doctor/doctor_crosscheck_test.cpp doctor/doctor_fixture.cpp)
  target_include_directories(doctor_trace_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/doctor
                             ${PROJECT_SOURCE_DIR}/examples/backend)
  target_link_libraries(doctor_trace_test PRIVATE nlohmann_json::nlohmann_json acs_tool_headers)
  target_compile_definitions(doctor_trace_test PRIVATE
    ACS_DOCTOR_PATH="$<TARGET_FILE:acs-doctor>"
    ACS_HOST_PATH="$<TARGET_FILE:acs-host>"
    GOOD_BACKEND="$<TARGET_FILE:qxacsint_example>"
    NO_VERIFY_BACKEND="$<TARGET_FILE:binding_backend_no_verify>"
    NEEDS_DEP_BACKEND="$<TARGET_FILE:doctor_backend_needs_dep>"
    ABORTING_BACKEND="$<TARGET_FILE:doctor_backend_aborts>"
    HANGING_BACKEND="$<TARGET_FILE:doctor_backend_hangs>"
    QXDEP_LIBRARY="$<TARGET_FILE:doctor_qxdep>")
  add_dependencies(doctor_trace_test acs-doctor acs-host qxacsint_example binding_backend_no_verify
    doctor_backend_needs_dep doctor_backend_aborts doctor_backend_hangs)
endif()
