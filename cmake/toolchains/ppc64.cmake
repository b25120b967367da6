# Cross build for 64-bit POWER, big-endian, ELFv1 (Debian's powerpc64 toolchain default).
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/ppc64.cmake ...
set(ZORVAN_CROSS_TRIPLET powerpc64-linux-gnu)
set(ZORVAN_CROSS_PROCESSOR ppc64)
set(ZORVAN_CROSS_QEMU qemu-ppc64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
