# Compiler settings that decide the bits of every result.
#
# Results are promised to the last bit on every platform: each operation is
# rounded on its own, in IEEE double precision, round to nearest, with
# subnormals honoured. So no multiply is contracted with an add into a fused
# operation, nothing is reassociated, no excess precision is used, and no
# flag may ever turn on flush-to-zero for the process (GCC before 13 links
# crtfastmath.o into a shared library built with -ffast-math, and its
# start-up code sets FTZ/DAZ for the whole interpreter the moment the module
# is imported).

# Flags from the environment (CXXFLAGS, LDFLAGS) or the command line that
# would change the arithmetic are taken out here, with a warning, before
# any target is compiled or linked: -Ofast becomes -O3, the others go.
set(_quorvel_unsafe_flags
  -ffast-math -funsafe-math-optimizations -fassociative-math -freciprocal-math
  -ffinite-math-only -fno-signed-zeros -fno-trapping-math -fcx-limited-range
  -ffp-contract=fast -ffp-contract=on -mdaz-ftz -mpc32 -mpc64 -mfpmath=387
  -ffp-model=fast -fapprox-func /fp:fast /fp:contract)

function(_quorvel_clean_flags variable)
  set(value "${${variable}}")
  set(original "${value}")
  separate_arguments(words NATIVE_COMMAND "${value}")
  set(kept "")
  foreach(word IN LISTS words)
    if(word STREQUAL "-Ofast")
      list(APPEND kept "-O3")
    elseif(word IN_LIST _quorvel_unsafe_flags)
      # dropped
    else()
      list(APPEND kept "${word}")
    endif()
  endforeach()
  list(JOIN kept " " value)
  if(NOT value STREQUAL original)
    message(WARNING "quorvel: ${variable} carries flags that would change the arithmetic; "
                    "building with \"${value}\" instead of \"${original}\"")
    set(${variable} "${value}" PARENT_SCOPE)
  endif()
endfunction()

set(_quorvel_configs ${CMAKE_CONFIGURATION_TYPES} ${CMAKE_BUILD_TYPE} Debug Release RelWithDebInfo MinSizeRel)
list(REMOVE_DUPLICATES _quorvel_configs)
foreach(_kind CXX_FLAGS SHARED_LINKER_FLAGS MODULE_LINKER_FLAGS EXE_LINKER_FLAGS STATIC_LINKER_FLAGS)
  _quorvel_clean_flags(CMAKE_${_kind})
  foreach(_config IN LISTS _quorvel_configs)
    string(TOUPPER "${_config}" _config)
    if(DEFINED CMAKE_${_kind}_${_config})
      _quorvel_clean_flags(CMAKE_${_kind}_${_config})
    endif()
  endforeach()
endforeach()

# A 32-bit x86 target computes in SSE2 registers, never on the x87 unit,
# whose 80-bit registers round twice. (src/arithmetic.hpp refuses to compile
# for any target that still evaluates doubles in excess precision.)
set(_quorvel_x86_32 OFF)
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^([iI][3-6]86|x86|X86|AMD64|amd64|x86_64)$")
  set(_quorvel_x86_32 ON)
endif()

# Every file compiled with these flags starts with src/arithmetic.hpp, made
# the first include of the file by the compiler, so its checks (IEEE
# doubles, no fast math, no x87 excess precision) are made in every
# translation unit that does arithmetic, the wide kernels included, whether
# or not the file includes it itself.
set(_quorvel_arithmetic "${PROJECT_SOURCE_DIR}/src/arithmetic.hpp")

if(MSVC)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "MSVC" AND MSVC_VERSION LESS 1930)
    message(FATAL_ERROR "quorvel needs Visual Studio 2022 or later: earlier releases may "
                        "contract multiplies and adds under /fp:precise")
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # clang-cl: /fp:precise means -ffp-model=precise, which contracts, and
    # clang warns on every file when -ffp-contract=off then overrides it.
    # clang's own defaults are the precise model already, so its own flags
    # alone say the same as the GNU-style build below.
    set(QUORVEL_FP_FLAGS /clang:-ffp-contract=off /clang:-fno-fast-math)
  else()
    # /fp:precise: no reassociation, no contraction (Visual Studio 2022
    # contracts only under /fp:contract, which is never given).
    set(QUORVEL_FP_FLAGS /fp:precise)
  endif()
  if(_quorvel_x86_32)
    list(APPEND QUORVEL_FP_FLAGS /arch:SSE2)
  endif()
  list(APPEND QUORVEL_FP_FLAGS "/FI${_quorvel_arithmetic}")
else()
  set(QUORVEL_FP_FLAGS -ffp-contract=off -fno-fast-math)
  if(_quorvel_x86_32)
    list(APPEND QUORVEL_FP_FLAGS -msse2 -mfpmath=sse)
  endif()
  list(APPEND QUORVEL_FP_FLAGS "SHELL:-include \"${_quorvel_arithmetic}\"")
endif()

# The flags of the wider x86-64 kernel builds, or empty where there are none
# (other processors, 32-bit x86, a macOS build for Apple silicon).
function(quorvel_x86_kernel_flags avx2 avx512)
  set(${avx2} "" PARENT_SCOPE)
  set(${avx512} "" PARENT_SCOPE)
  if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$" OR NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
    return()
  endif()
  if(APPLE AND CMAKE_OSX_ARCHITECTURES AND NOT CMAKE_OSX_ARCHITECTURES STREQUAL "x86_64")
    return()
  endif()
  if(MSVC)
    set(${avx2} "/arch:AVX2" PARENT_SCOPE)
    set(${avx512} "/arch:AVX512" PARENT_SCOPE)
  else()
    set(${avx2} "-mavx2" PARENT_SCOPE)
    set(${avx512} "-mavx512f;-mavx512dq;-mavx512bw;-mavx512vl" PARENT_SCOPE)
  endif()
endfunction()
