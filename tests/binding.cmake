# Back-end binding: the loader on its own (linked statically, with the
# base-directory resolution replaced by the test) and db2ACSInitialize on
# the shared object against a registry laid out per test: the reference back
# end, whose journal shows what it was given, and the fake back end wrong in
# one way each.
set(_binding_backends ${CMAKE_CURRENT_BINARY_DIR}/binding_backends)
zorvan_fake_backend(binding_backend_no_verify ${_binding_backends}/no_verify REFERENCE OMIT db2ACSVerifypp)
zorvan_fake_backend(binding_backend_no_initialize ${_binding_backends}/no_initialize REFERENCE
                    OMIT db2ACSInitializepp)
zorvan_fake_backend(binding_backend_no_store ${_binding_backends}/no_store REFERENCE OMIT db2ACSStoreMetaDatapp)
zorvan_fake_backend(binding_backend_undefined_call ${_binding_backends}/undefined_call UNDEFINED)

function(zorvan_binding_backends target)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/examples/backend
                                                ${PROJECT_SOURCE_DIR}/tools/common
                                                ${PROJECT_SOURCE_DIR}/tests/binding)
  target_compile_definitions(${target} PRIVATE
    BACKEND_FULL="$<TARGET_FILE:qxacsint_example>"
    BACKEND_NO_VERIFY="$<TARGET_FILE:binding_backend_no_verify>"
    BACKEND_NO_INITIALIZE="$<TARGET_FILE:binding_backend_no_initialize>"
    BACKEND_NO_STORE="$<TARGET_FILE:binding_backend_no_store>"
    BACKEND_UNDEFINED_CALL="$<TARGET_FILE:binding_backend_undefined_call>")
  add_dependencies(${target} qxacsint_example binding_backend_no_verify
                   binding_backend_no_initialize binding_backend_no_store
                   binding_backend_undefined_call)
  # Exported symbols of the executable are in the global scope, where the
  # loader must never look (see the unloadable-library cases).
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
endfunction()

# initializeFptrs / unInitializeFptrs, reached through the static library.
zorvan_add_test(test_binding_loader
  SOURCES binding/loader_test.cpp binding/binding_support.cpp
  LIBS zorvan_internal)
zorvan_binding_backends(test_binding_loader)

# db2ACSInitialize as DB2 calls it: through the dlopen'ed shared object.
zorvan_add_test(test_binding_initialize
  SOURCES binding/initialize_test.cpp binding/binding_support.cpp)
zorvan_binding_backends(test_binding_initialize)
