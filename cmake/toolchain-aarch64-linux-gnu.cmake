# Cross-build for 64-bit ARM Linux (Debian's aarch64-linux-gnu tools), run under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QUOREL_CROSS_TRIPLET aarch64-linux-gnu)
set(QUOREL_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
