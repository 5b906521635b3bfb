# Shared by both mingw toolchain files: compilers, resource and IDL compilers, the target's
# own root for find_*, and a static runtime so the DLL and test programs need no runtime DLLs.
set(CMAKE_C_COMPILER ${QUOREL_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QUOREL_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${QUOREL_MINGW_TRIPLET}-windres)
set(QUOREL_WIDL ${QUOREL_MINGW_TRIPLET}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${QUOREL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
