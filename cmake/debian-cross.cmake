# Cross-compiles for the handheld with Debian's cross compilers against a
# target sysroot: the one scripts/sysroot.sh unpacks from Debian's packages,
# or a vendor's, given as -DCMAKE_SYSROOT=DIR (or RECORDER_SYSROOT in the
# environment). The per-architecture files set RECORDER_TRIPLET and
# RECORDER_QEMU and include this one.
#
# Nothing of the target is installed on the PC: headers, libraries and
# pkg-config files all come from the sysroot, and the tests run under
# qemu-user with the sysroot as the root of the target's dynamic loader.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${RECORDER_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${RECORDER_TRIPLET}-g++)
# GCC notes that 7.1 changed how ARM passes some arguments: it concerns code
# built by older compilers, and nothing here is.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

if(NOT CMAKE_SYSROOT AND DEFINED ENV{RECORDER_SYSROOT})
  set(CMAKE_SYSROOT "$ENV{RECORDER_SYSROOT}")
endif()
if(NOT CMAKE_SYSROOT OR NOT IS_DIRECTORY "${CMAKE_SYSROOT}/usr/include")
  message(FATAL_ERROR "A cross build needs the target's sysroot: -DCMAKE_SYSROOT=DIR "
    "(scripts/sysroot.sh ${RECORDER_DEBIAN_ARCH} makes one). Got '${CMAKE_SYSROOT}'.")
endif()

# Programs (pkg-config, the emulator) are the PC's; everything linked in is
# the target's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The PC's pkg-config, reading only the sysroot's .pc files. A vendor's
# sysroot may keep them without the multiarch folder.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CMAKE_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
  "${CMAKE_SYSROOT}/usr/lib/${RECORDER_TRIPLET}/pkgconfig:${CMAKE_SYSROOT}/usr/lib/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# How the build runs what it made: test discovery, the tests, and the
# programs the tests start (see tests/CMakeLists.txt). RECORDER_EMULATOR is
# the emulator alone, for a program that finds its libraries in a root of
# its own.
set(RECORDER_EMULATOR qemu-${RECORDER_QEMU} ${RECORDER_QEMU_OPTIONS})
set(CMAKE_CROSSCOMPILING_EMULATOR ${RECORDER_EMULATOR} -L "${CMAKE_SYSROOT}")
