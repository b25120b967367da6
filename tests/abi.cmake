# The shared object's binary interface, read from its own ELF file, and
# the control block as hosts of either byte order lay it out.
zorvan_add_test(test_abi SOURCES abi/library_abi_test.cpp abi/elf_image.cpp)
target_compile_definitions(test_abi PRIVATE ZORVAN_SANITIZE="${SANITIZE}")

zorvan_add_test(test_byte_order SOURCES abi/byte_order_test.cpp LIBS zorvan_internal)
