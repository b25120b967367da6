# Shared part of the cross toolchains: Debian's <triplet>-gcc/g++ with the
# target's libraries under /usr/<triplet>, and qemu-user to run what the
# build produces (tests, test discovery). Each arch file sets
# ZORVAN_CROSS_TRIPLET, ZORVAN_CROSS_PROCESSOR and ZORVAN_CROSS_QEMU and
# includes this file.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${ZORVAN_CROSS_PROCESSOR})

set(CMAKE_C_COMPILER ${ZORVAN_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZORVAN_CROSS_TRIPLET}-g++)

# Headers, libraries and packages only from the target's tree; programs
# (code generators, tools run at build time) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZORVAN_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L makes qemu look up absolute paths in the target's tree first, so the
# dynamic loader, libc and libstdc++ (and whatever a test dlopens by its
# soname) are the target's; paths that do not exist there, such as the
# build tree, are used as they are.
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZORVAN_CROSS_QEMU} -L /usr/${ZORVAN_CROSS_TRIPLET})
