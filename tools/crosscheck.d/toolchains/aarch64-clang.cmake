# tools/crosscheck: Linux on aarch64, built by clang++-16.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER clang++-16)
# clang finds the GCC cross toolchain (headers, libstdc++, linker) by the triple.
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
