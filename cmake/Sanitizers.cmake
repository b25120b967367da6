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
endif()
