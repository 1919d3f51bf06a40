# The handheld class: ARMv5TE, soft float (Debian's armel). The emulator runs
# an ARM926 so that nothing newer than the handheld's processor slips in.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(RECORDER_TRIPLET arm-linux-gnueabi)
set(RECORDER_DEBIAN_ARCH armel)
set(RECORDER_QEMU arm)
set(RECORDER_QEMU_OPTIONS -cpu arm926)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
