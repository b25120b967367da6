zorvan_add_test(test_trace SOURCES trace/trace_log_test.cpp LIBS zorvan_internal)
