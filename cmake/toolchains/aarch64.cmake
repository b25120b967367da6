# Cross build for 64-bit ARM, little-endian.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64.cmake ...
set(ZORVAN_CROSS_TRIPLET aarch64-linux-gnu)
set(ZORVAN_CROSS_PROCESSOR aarch64)
set(ZORVAN_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
