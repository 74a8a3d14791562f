# Shared part of the mingw-w64 toolchains. The posix thread model gives the
# tests std::thread; everything of the compiler's runtime is linked statically
# so the DLL and the test programs need no MinGW DLL beside them.
set(CMAKE_C_COMPILER ${QKXDR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QKXDR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QKXDR_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QKXDR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
