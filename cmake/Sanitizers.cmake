# -DSANITIZE=address,undefined instruments every target; any report aborts.
if(SANITIZE)
  add_compile_options(-fsanitize=${SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${SANITIZE})
endif()
