# tools/crosscheck: this machine (x86-64), built by g++; run without an emulator.
set(CMAKE_CXX_COMPILER g++)
