# Warnings are errors on every compiler we support.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wconversion
                    -Wno-sign-conversion -Werror)
