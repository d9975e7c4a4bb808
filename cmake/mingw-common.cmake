# Shared part of the MinGW toolchain files. The posix thread model gives the
# standard library its std::mutex and std::thread; everything links statically,
# so the exe needs no MinGW runtime DLL.
set(CMAKE_C_COMPILER ${QUARN_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUARN_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUARN_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUARN_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Test executables run under Wine (see wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
