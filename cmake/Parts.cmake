# The library needs nothing but a C++ compiler; the other parts need a
# package or two. A part whose package is missing is left out with one
# configure line naming that package, so that a packager or a developer
# who wants only the library can build it anywhere. ZORVAN_REQUIRE_ALL
# (set by the project's scripts, and so by CI) turns that line into an
# error: there every part asked for is built, none left out unnoticed.
option(ZORVAN_REQUIRE_ALL "Fail at configure when a part asked for cannot be built" OFF)

# zorvan_leave_out(<part> <package that would add it>)
function(zorvan_leave_out part package)
  if(ZORVAN_REQUIRE_ALL)
    message(FATAL_ERROR "${part} cannot be built: install ${package} (ZORVAN_REQUIRE_ALL is on)")
  endif()
  message(STATUS "left out: ${part}; install ${package} to add it")
endfunction()
