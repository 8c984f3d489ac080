# Cross build for 32-bit ARM (hard float) with Debian's g++-arm-linux-gnueabihf.
# CTest runs the target's tests under qemu-user (qemu-arm), which loads the
# target's C library from the sysroot.
#
#   cmake --preset armhf && cmake --build --preset armhf && ctest --preset armhf
#
# An OpenWrt SDK toolchain (musl) works the same way: name its compiler
# prefix and its target staging directory, and export STAGING_DIR, which
# OpenWrt's gcc wrapper expects in the environment at every compile:
#
#   export STAGING_DIR=$SDK/staging_dir
#   cmake -S . -B build/openwrt -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armhf.cmake \
#     -DNIMBRA_CROSS_PREFIX=$STAGING_DIR/toolchain-arm_cortex-a7+neon-vfpv4_gcc-12.3.0_musl_eabi/bin/arm-openwrt-linux-muslgnueabi- \
#     -DNIMBRA_SYSROOT=$STAGING_DIR/target-arm_cortex-a7+neon-vfpv4_musl_eabi \
#     -DNIMBRA_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=MinSizeRel
#
# (The directory names carry the SDK's target and gcc version.) To run the
# unit tests too, drop NIMBRA_BUILD_TESTS=OFF and point NIMBRA_SYSROOT at the
# toolchain-* directory instead: qemu-arm then finds ld-musl-armhf.so.1 in its
# lib/. A package built inside the SDK (packaging/openwrt) needs none of this:
# OpenWrt's own CMake rules pass its compilers and sysroot.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(NIMBRA_CROSS_PREFIX "arm-linux-gnueabihf-" CACHE STRING
    "Cross compiler prefix (directory and target triplet, ending in -)")
set(NIMBRA_SYSROOT "/usr/arm-linux-gnueabihf" CACHE PATH
    "Target root: libraries and headers to find, C library for qemu-arm")
# try_compile projects read this file again; hand them the same choices.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NIMBRA_CROSS_PREFIX NIMBRA_SYSROOT)

set(CMAKE_C_COMPILER ${NIMBRA_CROSS_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${NIMBRA_CROSS_PREFIX}g++)

# 64-bit time_t and file offsets, as musl always has: Debian's armhf glibc
# keeps 32-bit ones unless asked, and they would run out in 2038. The vendor
# API passes neither, so a vendor library built either way still fits.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")

set(CMAKE_FIND_ROOT_PATH ${NIMBRA_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L ${NIMBRA_SYSROOT})
