// The arithmetic every routine is written for, checked where the code is
// compiled: IEEE 754 doubles, each operation rounded once, no contraction
// of a multiply and an add, no excess precision.
#pragma once

#include <cfloat>
#include <limits>

static_assert(std::numeric_limits<double>::is_iec559, "quorvel needs IEEE 754 doubles");

#if defined(__FAST_MATH__) || (defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__)
#error "quorvel must not be compiled with -ffast-math or -ffinite-math-only: results would change"
#endif

// The x87 unit keeps intermediate results in 80 bits and rounds them twice;
// a 32-bit x86 build must compute in SSE2 registers (-msse2 -mfpmath=sse).
#if (defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD != 0 && FLT_EVAL_METHOD != 1) || \
    ((defined(__i386__) || defined(_M_IX86)) && !defined(__SSE2_MATH__) && \
     !(defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#error "quorvel needs doubles evaluated in double precision (on 32-bit x86: -msse2 -mfpmath=sse)"
#endif

// The build turns contraction off; say so to the compilers that also take
// it from the source.
#if defined(_MSC_VER) && !defined(__clang__)
#pragma fp_contract(off)
#elif defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#endif
