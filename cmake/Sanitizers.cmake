# -DSANITIZE=address,undefined instruments every target; any report aborts.
if(SANITIZE)
  add_compile_options(-fsanitize=${SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${SANITIZE})
  # g++ reports false maybe-uninitialized warnings inside instrumented
  # standard-library code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  # clang's "function" check compares C++ function types across modules
  # built apart -- the library, the back ends, the hosts -- which share a C
  # interface only, each with its own declarations, as DB2 does; it also
  # exports type-info symbols from the shared object. "vptr" needs RTTI,
  # which the library does not carry.
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize=function,vptr)
    add_link_options(-fno-sanitize=function,vptr)
  endif()
endif()
