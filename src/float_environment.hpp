// The floating-point state every result is defined under.
#pragma once

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#include <xmmintrin.h>
#define QUORVEL_FLOAT_CONTROL_SSE 1
#elif defined(__aarch64__) && (defined(__GNUC__) || defined(__clang__))
#include <cstdint>
#define QUORVEL_FLOAT_CONTROL_FPCR 1
#else
#include <cfenv>
#endif

namespace quorvel {

/// Round to nearest, with subnormal inputs and results honoured (neither
/// flushed to zero nor read as zero), for the calling thread, from
/// construction until destruction, which gives back the state the thread
/// had at construction. The library's results are defined in that state
/// only; a caller may have set another rounding mode, or a library built
/// with -ffast-math may have turned on flush-to-zero for the whole process.
///
/// When the state is already right (the usual case) this costs one read of
/// the control register and changes nothing.
class FloatEnvironment {
 private:
#if QUORVEL_FLOAT_CONTROL_SSE
  // MXCSR: rounding control (bits 13-14, 00 is to nearest), flush-to-zero
  // (bit 15) and denormals-are-zero (bit 6). The x87 unit plays no part:
  // every double is computed in SSE registers on x86 (see the build).
  using Control = unsigned int;
  static constexpr Control kMask = 0x6000u | 0x8000u | 0x0040u;
  static Control read() noexcept { return _mm_getcsr(); }
  static void write(Control c) noexcept { _mm_setcsr(c); }
  static Control required(Control c) noexcept { return c & ~kMask; }
#elif QUORVEL_FLOAT_CONTROL_FPCR
  // FPCR: rounding mode (bits 22-23, 00 is to nearest), flush-to-zero
  // (bit 24), and the alternate-handling and flush-inputs bits (1 and 0)
  // of processors that have them (reserved as zero on the others).
  using Control = std::uint64_t;
  static constexpr Control kMask = (Control{3} << 22) | (Control{1} << 24) | Control{3};
  static Control read() noexcept {
    Control c;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(c));
    return c;
  }
  static void write(Control c) noexcept { __asm__ __volatile__("msr fpcr, %0" : : "r"(c)); }
  static Control required(Control c) noexcept { return c & ~kMask; }
#else
  // Elsewhere the standard interface reaches the rounding mode; the
  // processors this covers (s390x among them) have no flush-to-zero mode
  // in their IEEE arithmetic.
  using Control = int;
  static Control read() noexcept { return std::fegetround(); }
  static void write(Control c) noexcept { std::fesetround(c); }
  static Control required(Control) noexcept { return FE_TONEAREST; }
#endif

 public:
  FloatEnvironment() noexcept : saved_(read()) { set_if_needed(saved_); }
  ~FloatEnvironment() {
    if (changed_) write(saved_);
#if QUORVEL_FLOAT_CONTROL_SSE && (defined(__GNUC__) || defined(__clang__))
    if (x87_saved_) {
      unsigned short now = 0;
      __asm__ __volatile__("fnstcw %0" : "=m"(now));
      if (now != x87_) __asm__ __volatile__("fldcw %0" : : "m"(x87_));
    }
#endif
  }

  /// Called before Python code runs during the call: that code may also set
  /// the x87 unit's control word (fesetround sets both), which the library's
  /// arithmetic never uses but the caller's may; it is noted here the first
  /// time, while it is still the caller's, and given back at the end.
  void before_python_code() noexcept {
#if QUORVEL_FLOAT_CONTROL_SSE && (defined(__GNUC__) || defined(__clang__))
    if (x87_saved_) return;
    __asm__ __volatile__("fnstcw %0" : "=m"(x87_));
    x87_saved_ = true;
#endif
  }
  FloatEnvironment(const FloatEnvironment&) = delete;
  FloatEnvironment& operator=(const FloatEnvironment&) = delete;

  /// Sets the state again if something (Python code run since, say) has
  /// changed it. What is given back stays the state found at construction.
  void enforce() noexcept { set_if_needed(read()); }

 private:
  void set_if_needed(Control now) noexcept {
    const Control wanted = required(now);
    if (now == wanted) return;
    write(wanted);
    changed_ = true;
  }

  Control saved_;
  bool changed_ = false;
#if QUORVEL_FLOAT_CONTROL_SSE && (defined(__GNUC__) || defined(__clang__))
  unsigned short x87_ = 0;
  bool x87_saved_ = false;
#endif
};

}  // namespace quorvel
