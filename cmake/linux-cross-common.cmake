# Shared by the ARM Linux toolchain files: Debian's cross compilers, the target's multiarch
# libraries and pkg-config files, and qemu-user to run the target's programs (tests, test
# servers, GoogleTest's discovery). binfmt_misc may not be mounted, so the emulator is named.
# "-L /" lets it find the multiarch loader in /lib, which then loads the target's libc from
# /usr/lib/<triplet>/.
set(CMAKE_C_COMPILER ${QUOREL_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QUOREL_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${QUOREL_CROSS_TRIPLET})

# Multiarch keeps the target's headers and libraries under the host's root, in folders named by
# the triplet, which find_* searches through CMAKE_LIBRARY_ARCHITECTURE; host programs (such as
# the build's tools) are searched on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QUOREL_CROSS_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${QUOREL_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)

set(CMAKE_CROSSCOMPILING_EMULATOR ${QUOREL_QEMU};-L;/)
