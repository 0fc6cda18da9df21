# Cross-build for 64-bit Windows with mingw-w64; the runtime is linked in so the .exe files run alone.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KOVEX_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model gives std::thread and std::mutex, which GoogleTest wants.
find_program(CMAKE_C_COMPILER NAMES ${KOVEX_MINGW_TRIPLET}-gcc-posix ${KOVEX_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${KOVEX_MINGW_TRIPLET}-g++-posix ${KOVEX_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KOVEX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KOVEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc, libstdc++ or winpthread DLLs beside the programs: a bare Windows has none of them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine when built here.
find_program(KOVEX_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(KOVEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KOVEX_WINE})
endif()
