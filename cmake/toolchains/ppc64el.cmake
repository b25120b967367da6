# Cross build for 64-bit POWER, little-endian, ELFv2.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/ppc64el.cmake ...
set(ZORVAN_CROSS_TRIPLET powerpc64le-linux-gnu)
set(ZORVAN_CROSS_PROCESSOR ppc64le)
set(ZORVAN_CROSS_QEMU qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
