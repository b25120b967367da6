# No heap allocation on a forwarded call: the test executable defines the
# C allocator's entry points and counts their calls. Not built with
# sanitizers, which bring allocators of their own.
if(NOT SANITIZE)
  zorvan_add_test(test_no_allocation
    SOURCES alloc/no_allocation_test.cpp alloc/counting_allocator.cpp)
endif()
