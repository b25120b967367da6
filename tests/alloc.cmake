# No heap allocation on a forwarded call: the test executable defines the
# C allocator's entry points and counts their calls. Not built with
# sanitizers, which bring allocators of their own.
if(NOT SANITIZE)
  set(_alloc_home ${CMAKE_CURRENT_BINARY_DIR}/alloc_home)
  zorvan_fake_backend(zorvan_alloc_null_backend ${_alloc_home}/Base)

  zorvan_add_test(test_no_allocation
    SOURCES alloc/no_allocation_test.cpp alloc/counting_allocator.cpp)
  target_compile_definitions(test_no_allocation PRIVATE
    ZORVAN_ALLOC_BACKEND_HOME="${_alloc_home}")
  add_dependencies(test_no_allocation zorvan_alloc_null_backend)
endif()
