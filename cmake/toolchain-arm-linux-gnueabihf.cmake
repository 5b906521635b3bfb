# Cross-build for 32-bit ARM Linux, hard-float (Debian's arm-linux-gnueabihf tools), run under
# qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(QUOREL_CROSS_TRIPLET arm-linux-gnueabihf)
set(QUOREL_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
