# The hardening distributions build their packages with. The library runs
# inside DB2's process, so it carries them as much as the tools do:
# fortified string and format calls, a stack canary in every function
# with a local array, a read-only relocation table bound at load, and a
# stack that is never executable.
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
  # A stack that is never executable, said explicitly: not every target's
  # compiler marks its objects so (64-bit big-endian POWER does not).
  add_link_options(-Wl,-z,relro,-z,now -Wl,-z,noexecstack)
endif()

# zorvan_static_runtime(<target>): the C++ and compiler runtimes linked
# into the target itself, so that what we ship needs the C library alone
# and runs with the C++ runtime of any host, however old. Sanitizer
# builds keep the shared runtimes their own runtime expects.
function(zorvan_static_runtime target)
  if(NOT SANITIZE)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
  # The C++ runtime's thread-local data: on POWER the link editor would
  # call the loader's __tls_get_addr_opt, which glibc has had only since
  # 2.22; the plain __tls_get_addr is as old as the architecture's port.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^ppc64")
    target_link_options(${target} PRIVATE -Wl,--no-tls-get-addr-optimize)
  endif()
endfunction()
