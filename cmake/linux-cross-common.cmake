# Shared by the ARM Linux toolchain files: Debian's cross compilers against a root of the target's
# libraries (QUOREL_SYSROOT, made by scripts/arm-sysroot.sh), and qemu-user, with that root as its
# prefix for the loader and the libraries, to run the target's programs (tests, test servers,
# GoogleTest's discovery). binfmt_misc may not be mounted, so the emulator is named.
set(CMAKE_C_COMPILER ${QUOREL_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QUOREL_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${QUOREL_CROSS_TRIPLET})

# The toolchain file is read again for every try_compile, which gets the root through this list.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUOREL_SYSROOT)
if(NOT IS_DIRECTORY "${QUOREL_SYSROOT}/usr/lib/${QUOREL_CROSS_TRIPLET}")
  message(FATAL_ERROR "QUOREL_SYSROOT='${QUOREL_SYSROOT}' is no root of ${QUOREL_CROSS_TRIPLET} "
                      "libraries: make one with scripts/arm-sysroot.sh and pass -DQUOREL_SYSROOT=")
endif()
set(CMAKE_SYSROOT ${QUOREL_SYSROOT})

# Libraries, headers and packages come from the root alone; programs (the build's tools) from
# the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${QUOREL_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR}
    ${QUOREL_SYSROOT}/usr/lib/${QUOREL_CROSS_TRIPLET}/pkgconfig:${QUOREL_SYSROOT}/usr/share/pkgconfig)

set(CMAKE_CROSSCOMPILING_EMULATOR ${QUOREL_QEMU};-L;${QUOREL_SYSROOT})
