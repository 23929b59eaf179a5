# Cross build for Linux on s390x (64-bit, big-endian) with Debian's s390x-linux-gnu toolchain.
# Programs built here run under qemu user emulation, with the target's libraries from its sysroot;
# ctest (and GoogleTest discovery) run them through CMAKE_CROSSCOMPILING_EMULATOR.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(WAVELIBS_S390X_SYSROOT /usr/s390x-linux-gnu)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L ${WAVELIBS_S390X_SYSROOT})

# Libraries and headers of the target only; programs (sh, cmake) from the host.
set(CMAKE_FIND_ROOT_PATH ${WAVELIBS_S390X_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
