# Reliability: faults injected into the C library calls the library makes,
# many processes tracing at once, many threads initialising at once, a
# million forwarded calls.


# The C library's allocation, environment and loader calls, wrapped at link
# time in this test binary only.
zorvan_add_test(test_fault_injection
  SOURCES reliability/fault_injection_test.cpp fault/libc_faults.cpp
  LIBS zorvan_internal)
target_include_directories(test_fault_injection PRIVATE fault)
target_link_options(test_fault_injection PRIVATE
  -Wl,--wrap=malloc,--wrap=free,--wrap=putenv,--wrap=getenv,--wrap=dlclose)

zorvan_add_test(test_concurrent_trace SOURCES reliability/concurrent_trace_test.cpp
  LIBS zorvan_internal)
zorvan_add_test(test_forwarding_load SOURCES reliability/forwarding_load_test.cpp
  LIBS ${CMAKE_DL_LIBS})
# Threads of one host racing through db2ACSInitialize, a fresh process per
# trial; the control blocks with vendor options come from the discovery
# fixtures.
find_package(Threads REQUIRED)
zorvan_add_test(test_concurrent_initialize
  SOURCES reliability/concurrent_initialize_test.cpp discovery/discovery_fixtures.cpp
  LIBS Threads::Threads ${CMAKE_DL_LIBS})
target_include_directories(test_concurrent_initialize PRIVATE discovery)
