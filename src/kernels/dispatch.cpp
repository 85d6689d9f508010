// Picks the kernels once per process: the widest build that the processor
// and the operating system run, lowered (never raised) by
// QUORVEL_KERNELS=portable|avx2|avx512.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "kernels.hpp"
#include "table.hpp"

#if QUORVEL_X86_KERNELS
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace quorvel::kernels {
namespace {

#if QUORVEL_X86_KERNELS

struct CpuidRegisters {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
};

CpuidRegisters cpuid(unsigned leaf, unsigned subleaf) noexcept {
  CpuidRegisters r;
#if defined(_MSC_VER) && !defined(__clang__)
  int out[4];
  __cpuidex(out, static_cast<int>(leaf), static_cast<int>(subleaf));
  r = {static_cast<unsigned>(out[0]), static_cast<unsigned>(out[1]),
       static_cast<unsigned>(out[2]), static_cast<unsigned>(out[3])};
#else
  if (static_cast<unsigned>(__get_cpuid_max(leaf & 0x80000000u, nullptr)) < leaf) return r;
  __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#endif
  return r;
}

/// The register state the operating system saves and restores on a
/// context switch (XCR0). Wide registers are usable only where it does.
unsigned long long enabled_state() noexcept {
#if defined(_MSC_VER) && !defined(__clang__)
  return _xgetbv(0);
#else
  unsigned lo = 0, hi = 0;
  __asm__ __volatile__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<unsigned long long>(hi) << 32) | lo;
#endif
}

constexpr unsigned bit(unsigned n) { return 1u << n; }

/// 0: portable only; 1: AVX2; 2: AVX-512 F, DQ, BW and VL.
int supported_level() noexcept {
  const CpuidRegisters basic = cpuid(1, 0);
  const bool osxsave = (basic.ecx & bit(27)) != 0;
  const bool avx = (basic.ecx & bit(28)) != 0;
  if (!osxsave || !avx) return 0;
  const unsigned long long xcr0 = enabled_state();
  constexpr unsigned long long kYmm = 0x6;     // SSE and AVX state
  constexpr unsigned long long kZmm = 0xe6;    // plus opmask, ZMM0-15 upper halves, ZMM16-31
  if ((xcr0 & kYmm) != kYmm || cpuid(0, 0).eax < 7) return 0;
  const CpuidRegisters extended = cpuid(7, 0);
  if ((extended.ebx & bit(5)) == 0) return 0;  // AVX2
  const unsigned avx512 = bit(16) | bit(17) | bit(30) | bit(31);  // F, DQ, BW, VL
  if ((extended.ebx & avx512) != avx512 || (xcr0 & kZmm) != kZmm) return 1;
  return 2;
}

#endif

// Kept out of line: inlined into every entry point below, its register
// needs would be paid on each call instead of once.
#if defined(_MSC_VER) && !defined(__clang__)
#define QUORVEL_COLD __declspec(noinline)
#else
#define QUORVEL_COLD __attribute__((noinline, cold))
#endif

QUORVEL_COLD const KernelTable* choose() noexcept {
#if QUORVEL_X86_KERNELS
  const KernelTable* const levels[] = {&kPortableKernels, &kAvx2Kernels, &kAvx512Kernels};
  int level = supported_level();
  if (const char* wanted = std::getenv("QUORVEL_KERNELS")) {
    for (int i = 0; i < 3; ++i) {
      if (std::strcmp(wanted, levels[i]->name) == 0 && i < level) level = i;
    }
  }
  return levels[level];
#else
  return &kPortableKernels;
#endif
}

/// The table chosen, once known: after the first call, each entry point
/// below costs a load, a test and a jump.
std::atomic<const KernelTable*> g_chosen{nullptr};

QUORVEL_COLD const KernelTable& first_table() noexcept {
  static const KernelTable* const chosen = choose();  // once, even when threads race here
  g_chosen.store(chosen, std::memory_order_release);
  return *chosen;
}

inline const KernelTable& table() noexcept {
  const KernelTable* chosen = g_chosen.load(std::memory_order_acquire);
  return chosen != nullptr ? *chosen : first_table();
}

}  // namespace

void matvec(const double* a, std::ptrdiff_t row_stride, std::ptrdiff_t col_stride,
            std::size_t rows, std::size_t cols, const double* x, double* y) noexcept {
  table().matvec(a, row_stride, col_stride, rows, cols, x, y);
}

void subtract_scaled(double* target, const double* pivot_row, double f,
                     std::size_t width) noexcept {
  table().subtract_scaled(target, pivot_row, f, width);
}

void apply_panel(const PanelUpdate& update) noexcept { table().apply_panel(update); }

void widen(Element element, bool swap, const char* from, std::ptrdiff_t count,
           std::ptrdiff_t stride, double* out) noexcept {
  table().widen(element, swap, from, count, stride, out);
}

void column_magnitudes(const double* a, std::size_t rows, std::size_t cols, std::size_t stride,
                       double* sums) noexcept {
  table().column_magnitudes(a, rows, cols, stride, sums);
}

const char* active_kernels() noexcept { return table().name; }

const char* built_kernels() noexcept {
#if QUORVEL_X86_KERNELS
  return "portable avx2 avx512";
#else
  return "portable";
#endif
}

}  // namespace quorvel::kernels
