/* Coverage callbacks for a gcc build of the module under atheris.

   gcc's -fsanitize-coverage=trace-pc calls __sanitizer_cov_trace_pc() at
   every basic block; the libFuzzer inside atheris no longer understands
   that callback (its own copy exits with "no longer supported"), but it does
   accept extra inline 8-bit counters. This library turns each call into an
   edge counter (hash of the previous and the current block, as AFL does) in
   a table that tools/fuzz_atheris.py hands to libFuzzer.

   gcc's -fsanitize-coverage=trace-cmp callbacks are passed on to libFuzzer's
   own by tail calls, so libFuzzer still sees the compare's own address.
   gcc also reports float and double compares, which libFuzzer has no
   callback for: those go in as 32- and 64-bit integer compares of the bits.

   Build:  gcc -O2 -fPIC -shared -o /tmp/quorvel-coverage-shim.so tools/coverage_shim.c
   Load it (ctypes, RTLD_GLOBAL) before the instrumented module is imported. */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))
#define COUNTERS (1u << 16)

static uint8_t counters[COUNTERS] __attribute__((aligned(64)));
static uintptr_t pc_table[2 * COUNTERS];
static __thread uintptr_t previous;

EXPORT void __sanitizer_cov_trace_pc(void) {
  const uintptr_t pc = (uintptr_t)__builtin_return_address(0);
  const uintptr_t current = (uintptr_t)((pc * UINT64_C(0x9E3779B97F4A7C15)) >> 48);
  counters[(current ^ previous) & (COUNTERS - 1)]++;
  previous = current >> 1;
}

typedef void (*cmp1_fn)(uint8_t, uint8_t);
typedef void (*cmp2_fn)(uint16_t, uint16_t);
typedef void (*cmp4_fn)(uint32_t, uint32_t);
typedef void (*cmp8_fn)(uint64_t, uint64_t);
typedef void (*switch_fn)(uint64_t, uint64_t*);

static cmp1_fn cmp1, const_cmp1;
static cmp2_fn cmp2, const_cmp2;
static cmp4_fn cmp4, const_cmp4;
static cmp8_fn cmp8, const_cmp8;
static switch_fn trace_switch;

EXPORT void __sanitizer_cov_trace_cmp1(uint8_t a, uint8_t b) { if (cmp1) cmp1(a, b); }
EXPORT void __sanitizer_cov_trace_cmp2(uint16_t a, uint16_t b) { if (cmp2) cmp2(a, b); }
EXPORT void __sanitizer_cov_trace_cmp4(uint32_t a, uint32_t b) { if (cmp4) cmp4(a, b); }
EXPORT void __sanitizer_cov_trace_cmp8(uint64_t a, uint64_t b) { if (cmp8) cmp8(a, b); }
EXPORT void __sanitizer_cov_trace_const_cmp1(uint8_t a, uint8_t b) { if (const_cmp1) const_cmp1(a, b); }
EXPORT void __sanitizer_cov_trace_const_cmp2(uint16_t a, uint16_t b) { if (const_cmp2) const_cmp2(a, b); }
EXPORT void __sanitizer_cov_trace_const_cmp4(uint32_t a, uint32_t b) { if (const_cmp4) const_cmp4(a, b); }
EXPORT void __sanitizer_cov_trace_const_cmp8(uint64_t a, uint64_t b) { if (const_cmp8) const_cmp8(a, b); }
EXPORT void __sanitizer_cov_trace_switch(uint64_t v, uint64_t* cases) { if (trace_switch) trace_switch(v, cases); }

EXPORT void __sanitizer_cov_trace_cmpf(float a, float b) {
  uint32_t x, y;
  memcpy(&x, &a, sizeof x);
  memcpy(&y, &b, sizeof y);
  if (cmp4) cmp4(x, y);
}

EXPORT void __sanitizer_cov_trace_cmpd(double a, double b) {
  uint64_t x, y;
  memcpy(&x, &a, sizeof x);
  memcpy(&y, &b, sizeof y);
  if (cmp8) cmp8(x, y);
}

typedef void (*counters_init_fn)(uint8_t*, uint8_t*);
typedef void (*pcs_init_fn)(const uintptr_t*, const uintptr_t*);

/* Hands the counter table to libFuzzer and takes libFuzzer's compare
   callbacks, in this order: counters_init, pcs_init, cmp1, cmp2, cmp4, cmp8,
   const_cmp1, const_cmp2, const_cmp4, const_cmp8, switch. Returns the
   number of counters. */
EXPORT unsigned quorvel_coverage_connect(void* const* f) {
  for (unsigned i = 0; i < COUNTERS; ++i) {
    pc_table[2 * i] = 0x51000000u + i; /* made-up, distinct "PCs" */
    pc_table[2 * i + 1] = 0;
  }
  cmp1 = (cmp1_fn)f[2];
  cmp2 = (cmp2_fn)f[3];
  cmp4 = (cmp4_fn)f[4];
  cmp8 = (cmp8_fn)f[5];
  const_cmp1 = (cmp1_fn)f[6];
  const_cmp2 = (cmp2_fn)f[7];
  const_cmp4 = (cmp4_fn)f[8];
  const_cmp8 = (cmp8_fn)f[9];
  trace_switch = (switch_fn)f[10];
  memset(counters, 0, sizeof counters);
  ((counters_init_fn)f[0])(counters, counters + COUNTERS);
  if (f[1] != NULL) ((pcs_init_fn)f[1])(pc_table, pc_table + 2 * COUNTERS);
  return COUNTERS;
}
