# How the extension module is linked, chosen for the linker in use. In every
# case the module exports its entry point and nothing else (PyInit_quorvel;
# PyModExport_quorvel in an abi3t build), and depends on nothing newer than
# what the interpreter itself needs.

include(CheckCXXSourceCompiles)
check_cxx_source_compiles("
#include <version>
#ifndef _LIBCPP_VERSION
#error not libc++
#endif
int main() { return 0; }" QUORVEL_WITH_LIBCXX)

function(quorvel_link_module target)
  if(QUORVEL_PYTHON_ABI STREQUAL "abi3t")
    set(entry PyModExport_quorvel)
    set(map "${PROJECT_SOURCE_DIR}/python/exports-abi3t.map")
  else()
    set(entry PyInit_quorvel)
    set(map "${PROJECT_SOURCE_DIR}/python/exports.map")
  endif()
  if(APPLE)
    # Apple's ld64: an explicit export list. The system's libc++ is always
    # there, so it stays a shared library; python_add_library already lets
    # the interpreter's symbols resolve at load time.
    target_link_options(${target} PRIVATE "LINKER:-exported_symbol,_${entry}")
  elseif(WIN32)
    # link.exe (or lld-link): a DLL exports only what is marked for export,
    # and PyMODINIT_FUNC (PyMODEXPORT_FUNC) marks the entry point.
    if(MINGW)
      # MinGW's GCC links the same way (a marked symbol turns its export-all
      # default off); its C++ runtime, libgcc and winpthreads are linked in,
      # so that the module needs only python3.dll and the system's DLLs.
      target_link_options(${target} PRIVATE -static)
    endif()
  else()
    # ELF linkers (GNU ld, gold, lld, mold): a version script hides every
    # symbol but the entry point, template statics included (which would
    # otherwise be exported as GNU-unique objects).
    target_link_options(${target} PRIVATE "LINKER:--version-script=${map}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${map}")
    if(NOT QUORVEL_SANITIZE)
      target_link_options(${target} PRIVATE "LINKER:--exclude-libs,ALL")
      # GCC's C++ runtime is linked in privately, so that the module needs no
      # libstdc++ newer than the system's. A libc++ build (clang's own, or a
      # cross toolchain's) brings its library as it was configured to.
      if(NOT QUORVEL_WITH_LIBCXX)
        target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
      endif()
    endif()
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 13
       AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|[iI][3-6]86|x86)$")
      # Never the start-up code that sets flush-to-zero for the process.
      target_link_options(${target} PRIVATE -mno-daz-ftz)
    endif()
  endif()
endfunction()
