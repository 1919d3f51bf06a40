# ARMv7 with hardware floating point (Debian's armhf).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(RECORDER_TRIPLET arm-linux-gnueabihf)
set(RECORDER_DEBIAN_ARCH armhf)
set(RECORDER_QEMU arm)
set(RECORDER_QEMU_OPTIONS -cpu cortex-a8)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
