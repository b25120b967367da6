zorvan_add_test(test_entry_points SOURCES acs/forwarders_test.cpp acs/debug_hold_test.cpp)
