# 32-bit x86 Linux programs from the 64-bit host compiler (Debian's
# g++-multilib); they run natively on an x86-64 kernel. GoogleTest is built
# from its sources, since the host's libraries are 64-bit.
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(QKXDR_GTEST_FROM_SOURCE ON CACHE BOOL "")
# A kernel without 32-bit support runs them under user-mode emulation.
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE native_i386
                OUTPUT_QUIET ERROR_QUIET)
if(NOT native_i386 EQUAL 0)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)
endif()
