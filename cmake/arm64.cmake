# 64-bit ARM (Debian's arm64).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(RECORDER_TRIPLET aarch64-linux-gnu)
set(RECORDER_DEBIAN_ARCH arm64)
set(RECORDER_QEMU aarch64)
set(RECORDER_QEMU_OPTIONS)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
