zorvan_add_test(test_entry_points SOURCES acs/forwarders_test.cpp)
