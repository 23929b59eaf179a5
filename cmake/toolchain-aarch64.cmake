# Cross build for Linux on aarch64 (64-bit ARM, little-endian) with Debian's aarch64-linux-gnu
# toolchain.
# Programs built here run under qemu user emulation, with the target's libraries from its sysroot;
# ctest (and GoogleTest discovery) run them through CMAKE_CROSSCOMPILING_EMULATOR.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(WAVELIBS_AARCH64_SYSROOT /usr/aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${WAVELIBS_AARCH64_SYSROOT})

# Libraries and headers of the target only; programs (sh, cmake) from the host.
set(CMAKE_FIND_ROOT_PATH ${WAVELIBS_AARCH64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
