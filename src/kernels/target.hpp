// Included first by every kernel file, after it has defined
// QUORVEL_KERNEL_TARGET to the name of its instruction set.
//
// Each kernel file is compiled with flags of its own (-mavx2, ...). Code in
// headers that two of them include would otherwise be compiled under both
// sets of flags with one name, and the linker keeps one copy for all
// callers: the portable kernels could end up running AVX instructions. So
// every kernel header opens namespace quorvel::kernels::QUORVEL_KERNEL_TARGET,
// giving each build's copy a name of its own, and the kernel files use no
// standard-library templates (their instantiations would be shared).
#pragma once

#ifndef QUORVEL_KERNEL_TARGET
#error "define QUORVEL_KERNEL_TARGET (portable, avx2, avx512) before including kernel headers"
#endif

#define QUORVEL_STRINGIFY_(x) #x
#define QUORVEL_STRINGIFY(x) QUORVEL_STRINGIFY_(x)

#if defined(__GNUC__) || defined(__clang__)
/// Unrolls the next loop `n` times (a hint; the arithmetic is unchanged).
#define QUORVEL_UNROLL(n) _Pragma(QUORVEL_STRINGIFY(GCC unroll n))
#define QUORVEL_RESTRICT __restrict__
/// Asks for the cache line at `p`, which is about to be written.
#define QUORVEL_PREFETCH_FOR_WRITE(p) __builtin_prefetch((p), 1)
#elif defined(_MSC_VER)
#define QUORVEL_UNROLL(n)
#define QUORVEL_RESTRICT __restrict
#if defined(_M_X64) || defined(_M_IX86)
#include <xmmintrin.h>
#define QUORVEL_PREFETCH_FOR_WRITE(p) _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0)
#else
#define QUORVEL_PREFETCH_FOR_WRITE(p) ((void)(p))
#endif
#else
#define QUORVEL_UNROLL(n)
#define QUORVEL_RESTRICT
#define QUORVEL_PREFETCH_FOR_WRITE(p) ((void)(p))
#endif
