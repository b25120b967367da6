# The hardening distributions build their packages with. The library runs
# inside DB2's process, so it carries them as much as the tools do:
# fortified string and format calls, a stack canary in every function
# with a local array, and a read-only relocation table bound at load.
#   -DZORVAN_HARDENING=OFF   leaves them out (not for what we ship)
option(ZORVAN_HARDENING "Build with the distributions' hardening flags" ON)
if(ZORVAN_HARDENING)
  add_compile_options(-fstack-protector-strong)
  # Fortification needs the optimiser, and the sanitizers replace the very
  # functions it checks.
  if(NOT SANITIZE)
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                        $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  endif()
  add_link_options(-Wl,-z,relro,-z,now)
endif()

# zorvan_static_runtime(<target>): the C++ and compiler runtimes linked
# into the target itself, so that what we ship needs the C library alone
# and runs with the C++ runtime of any host, however old. Sanitizer
# builds keep the shared runtimes their own runtime expects.
function(zorvan_static_runtime target)
  if(NOT SANITIZE)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
