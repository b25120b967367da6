# Back-end binding: the loader on its own (linked statically, with the
# base-directory resolution replaced by the test) and db2ACSInitialize on
# the shared object against a registry laid out per test. The back ends are
# variants of the example back end, each wrong in one way.
include(${PROJECT_SOURCE_DIR}/examples/backend/BackendVariants.cmake)

set(_binding_backends ${CMAKE_CURRENT_BINARY_DIR}/binding_backends)
zorvan_backend_variant(binding_backend_full ${_binding_backends}/full)
zorvan_backend_variant(binding_backend_no_verify ${_binding_backends}/no_verify
                       OMIT db2ACSVerifypp)
zorvan_backend_variant(binding_backend_no_initialize ${_binding_backends}/no_initialize
                       OMIT db2ACSInitializepp)
zorvan_backend_variant(binding_backend_no_store ${_binding_backends}/no_store
                       OMIT db2ACSStoreMetaDatapp)
zorvan_backend_variant(binding_backend_undefined_call ${_binding_backends}/undefined_call
                       UNDEFINED_CALL)

function(zorvan_binding_backends target)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/examples/backend
                                                ${PROJECT_SOURCE_DIR}/tools/common
                                                ${PROJECT_SOURCE_DIR}/tests/binding)
  target_compile_definitions(${target} PRIVATE
    BACKEND_FULL="$<TARGET_FILE:binding_backend_full>"
    BACKEND_NO_VERIFY="$<TARGET_FILE:binding_backend_no_verify>"
    BACKEND_NO_INITIALIZE="$<TARGET_FILE:binding_backend_no_initialize>"
    BACKEND_NO_STORE="$<TARGET_FILE:binding_backend_no_store>"
    BACKEND_UNDEFINED_CALL="$<TARGET_FILE:binding_backend_undefined_call>")
  add_dependencies(${target} binding_backend_full binding_backend_no_verify
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
