# Cross build for IBM Z, 64-bit, big-endian.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/s390x.cmake ...
set(ZORVAN_CROSS_TRIPLET s390x-linux-gnu)
set(ZORVAN_CROSS_PROCESSOR s390x)
set(ZORVAN_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
