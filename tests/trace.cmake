zorvan_add_test(test_trace SOURCES trace/trace_log_test.cpp LIBS zorvan_internal)
# The trace line's date and time at instants the test chooses: the binary
# defines time() itself and links the library statically.
zorvan_add_test(test_trace_clock SOURCES trace/trace_clock_test.cpp trace/fixed_clock.cpp
  LIBS zorvan_internal)
