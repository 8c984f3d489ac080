# Builds against musl, the C library of OpenWrt routers, with zig 0.14's
# clang, libc++ and musl (`zig c++ -target TRIPLE`). The presets musl-x86_64,
# musl-armhf and musl-mips name the target; sandbox/install-zig.sh installs
# zig from the npm registry and prints its path.
#
#   cmake --preset musl-mips -DNIMBRA_ZIG=$(sandbox/install-zig.sh)
#
# zig links its libc++ statically (NIMBRA_ZIG tells CMakeLists.txt so;
# libvendor.so's version script keeps it out of the ABI). x86_64 programs run
# here through Debian's musl loader (/lib/ld-musl-x86_64.so.1); the ARM and
# MIPS test programs are linked statically and run under qemu-user, which
# then needs no target root. nimbractl and libvendor.so are dynamic on
# every target, as on the router.
#
# MIPS: mips-linux-musleabi, soft-float, as OpenWrt builds its 32-bit MIPS
# targets (ath79 and the like: their CPUs have no FPU, where a hard-float
# program's float instructions would need the kernel's FPU emulator). The
# two float ABIs do not link together: libvendor.so must match the firmware.

set(NIMBRA_ZIG_TARGET "x86_64-linux-musl" CACHE STRING "zig target triple")
set(NIMBRA_ZIG "" CACHE FILEPATH "zig 0.14 (default: sandbox/install-zig.sh's)")
if(NOT NIMBRA_ZIG)
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../../sandbox/install-zig.sh --path
                  OUTPUT_VARIABLE zig OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "no zig: run sandbox/install-zig.sh, or pass -DNIMBRA_ZIG=PATH")
  endif()
  set(NIMBRA_ZIG ${zig} CACHE FILEPATH "" FORCE)
endif()

string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR ${NIMBRA_ZIG_TARGET})
set(CMAKE_SYSTEM_NAME Linux)

# CMake wants one program per tool: a script per zig subcommand, made once
# and handed to the try_compile projects, which read this file again.
if(NOT NIMBRA_ZIG_WRAPPERS)
  set(NIMBRA_ZIG_WRAPPERS ${CMAKE_BINARY_DIR}/zig)
  foreach(tool cc c++ ar ranlib)
    set(target)
    if(tool MATCHES "^c")
      set(target " -target ${NIMBRA_ZIG_TARGET}")
    endif()
    file(WRITE ${NIMBRA_ZIG_WRAPPERS}/${tool} "#!/bin/sh\nexec '${NIMBRA_ZIG}' ${tool}${target} \"$@\"\n")
    file(CHMOD ${NIMBRA_ZIG_WRAPPERS}/${tool} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endforeach()
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NIMBRA_ZIG NIMBRA_ZIG_TARGET NIMBRA_ZIG_WRAPPERS)

set(CMAKE_C_COMPILER ${NIMBRA_ZIG_WRAPPERS}/cc)
set(CMAKE_CXX_COMPILER ${NIMBRA_ZIG_WRAPPERS}/c++)
set(CMAKE_AR ${NIMBRA_ZIG_WRAPPERS}/ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${NIMBRA_ZIG_WRAPPERS}/ranlib CACHE FILEPATH "")
# llvm-strip knows every target's ELF.
find_program(CMAKE_STRIP NAMES llvm-strip llvm-strip-14 strip)

# Nothing of this machine's libraries or headers fits the target.
set(CMAKE_FIND_ROOT_PATH ${CMAKE_BINARY_DIR}/no-target-root)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
  set(qemu ${CMAKE_SYSTEM_PROCESSOR})
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu})
  # qemu-user runs static programs without a target root.
  set(NIMBRA_TEST_LINK_OPTIONS -static)
endif()
