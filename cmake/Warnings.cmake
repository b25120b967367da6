# The code is kept free of warnings on every compiler we build with
# (g++ 10 and 12, clang 14). Warnings turn into errors only when asked
# for, as CI and the project's scripts do: a newer compiler's new warning
# must never break a user's build.
#   -DZORVAN_WERROR=ON                    or
#   -DCMAKE_COMPILE_WARNING_AS_ERROR=ON   (CMake 3.24 and later)
option(ZORVAN_WERROR "Treat compiler warnings as errors" OFF)
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wconversion
                    -Wno-sign-conversion)
if(ZORVAN_WERROR)
  add_compile_options(-Werror)
endif()
