// The floating-point state every result is defined under.
#pragma once

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#include <xmmintrin.h>
#define QUORVEL_FLOAT_CONTROL_SSE 1
#elif defined(__aarch64__) && (defined(__GNUC__) || defined(__clang__))
#include <cstdint>
#define QUORVEL_FLOAT_CONTROL_FPCR 1
#elif defined(__s390x__) && (defined(__GNUC__) || defined(__clang__))
#include <cstdint>
#define QUORVEL_FLOAT_CONTROL_FPC 1
#else
#include <cfenv>
#endif

namespace quorvel {

/// Round to nearest, with subnormal inputs and results honoured (neither
/// flushed to zero nor read as zero), and every IEEE exception trap masked,
/// for the calling thread, from construction until destruction. The
/// library's results are defined in that state only; a caller may have set
/// another rounding mode or unmasked a trap (a signalling NaN would then
/// end the process with SIGFPE), or a library built with -ffast-math may
/// have turned on flush-to-zero for the whole process.
///
/// Destruction gives back the control register found at construction, bit
/// for bit, whatever changed it meanwhile (Python code run during the call:
/// a converter, a signal handler, a warning's showwarning). The sticky
/// exception flags are not control: they are left as the arithmetic left
/// them, so those the caller had stay raised and those the call's own
/// arithmetic raised are added, as after arithmetic the caller did itself.
/// Raising a flag this way never traps, even where the caller unmasks it.
///
/// The register is read raw, never through fegetround(): that knows only the
/// four standard rounding modes, and s390x has more (7, round to prepare for
/// shorter precision, came back as 3).
///
/// When the state is already right (the usual case) this costs two reads of
/// the control register and changes nothing.
class FloatEnvironment {
 private:
#if QUORVEL_FLOAT_CONTROL_SSE
  // MXCSR: rounding control (bits 13-14, 00 is to nearest), flush-to-zero
  // (bit 15), denormals-are-zero (bit 6), the trap masks (bits 7-12, set is
  // masked) and the sticky flags (bits 0-5). The x87 unit plays no part:
  // every double is computed in SSE registers on x86 (see the build).
  using Control = unsigned int;
  static constexpr Control kCleared = 0x6000u | 0x8000u | 0x0040u;
  static constexpr Control kSet = 0x1f80u;
  static constexpr Control kFlags = 0x003fu;
  static Control read() noexcept { return _mm_getcsr(); }
  static void write(Control c) noexcept { _mm_setcsr(c); }
#elif QUORVEL_FLOAT_CONTROL_FPCR
  // FPCR: rounding mode (bits 22-23, 00 is to nearest), flush-to-zero (bit
  // 24), the trap enables (bits 8-12 and 15, clear is masked), and the
  // alternate-handling and flush-inputs bits (1 and 0) of processors that
  // have them (reserved as zero on the others). The flags live in FPSR, which
  // the call leaves alone. Other fields (default NaN, say) only change the
  // payload of a NaN, and every NaN returned is made canonical.
  using Control = std::uint64_t;
  static constexpr Control kCleared =
      (Control{3} << 22) | (Control{1} << 24) | Control{0x9f00} | Control{3};
  static constexpr Control kSet = 0;
  static constexpr Control kFlags = 0;
  static Control read() noexcept {
    Control c;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(c));
    return c;
  }
  static void write(Control c) noexcept { __asm__ __volatile__("msr fpcr, %0" : : "r"(c)); }
#elif QUORVEL_FLOAT_CONTROL_FPC
  // FPC, bit 0 the most significant: the IEEE trap masks (bits 0-4, set is
  // trapping), the sticky flags (bits 8-13), the data-exception code, and
  // the binary rounding mode (bits 29-31: 0 to nearest; 1, 2, 3 toward zero,
  // up, down; 7 to prepare for shorter precision). No flush-to-zero mode.
  using Control = std::uint32_t;
  static constexpr Control kCleared = 0xf8000000u | 0x7u;
  static constexpr Control kSet = 0;
  static constexpr Control kFlags = 0x00fc0000u;
  static Control read() noexcept {
    Control c;
    __asm__ __volatile__("efpc %0" : "=d"(c));
    return c;
  }
  static void write(Control c) noexcept { __asm__ __volatile__("sfpc %0" : : "d"(c)); }
#endif

#if QUORVEL_FLOAT_CONTROL_SSE || QUORVEL_FLOAT_CONTROL_FPCR || QUORVEL_FLOAT_CONTROL_FPC
 public:
  FloatEnvironment() noexcept : found_(read()) {
    set_if_needed(found_);
#if QUORVEL_FLOAT_CONTROL_SSE && (defined(__GNUC__) || defined(__clang__))
    // Python code run during the call (a conversion's, a signal handler's,
    // a warning hook's, a collection's callbacks when the result is
    // allocated) may also set the x87 unit's control word (fesetround sets
    // both). The library's arithmetic never uses it but the caller's may:
    // it is noted here and given back at the end.
    __asm__ __volatile__("fnstcw %0" : "=m"(x87_));
#endif
  }
  ~FloatEnvironment() {
    const Control now = read();
    const Control back = (found_ & ~kFlags) | (now & kFlags);
    if (now != back) write(back);
#if QUORVEL_FLOAT_CONTROL_SSE && (defined(__GNUC__) || defined(__clang__))
    unsigned short now_x87 = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(now_x87));
    if (now_x87 != x87_) __asm__ __volatile__("fldcw %0" : : "m"(x87_));
#endif
  }

  /// Sets the state again if something (Python code run since, say) has
  /// changed it. What is given back stays the register found at construction.
  void enforce() noexcept { set_if_needed(read()); }

 private:
  static void set_if_needed(Control now) noexcept {
    const Control wanted = (now & ~kCleared) | kSet;
    if (now != wanted) write(wanted);
  }

  Control found_;
#if QUORVEL_FLOAT_CONTROL_SSE && (defined(__GNUC__) || defined(__clang__))
  unsigned short x87_ = 0;
#endif
#else
  // Elsewhere the standard interface: the whole environment saved, non-stop
  // mode (every trap masked) and rounding to nearest for the call, and the
  // environment given back with the flags raised meanwhile added. Processors
  // this covers have no flush-to-zero mode in their IEEE arithmetic, or
  // none the standard interface can reach.
 public:
  FloatEnvironment() noexcept {
    std::feholdexcept(&found_);
    std::fesetround(FE_TONEAREST);
  }
  ~FloatEnvironment() {
    const int raised = std::fetestexcept(FE_ALL_EXCEPT);
    std::fexcept_t flags;
    std::fegetexceptflag(&flags, raised);
    std::fesetenv(&found_);
    std::fesetexceptflag(&flags, raised);  // sets them without trapping
  }
  void enforce() noexcept {
    const int raised = std::fetestexcept(FE_ALL_EXCEPT);
    std::fexcept_t flags;
    std::fegetexceptflag(&flags, raised);
    std::fenv_t ignored;
    std::feholdexcept(&ignored);
    std::fesetround(FE_TONEAREST);
    std::fesetexceptflag(&flags, raised);
  }

 private:
  std::fenv_t found_;
#endif

 public:
  FloatEnvironment(const FloatEnvironment&) = delete;
  FloatEnvironment& operator=(const FloatEnvironment&) = delete;
};

}  // namespace quorvel
