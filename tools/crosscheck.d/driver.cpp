// The driver of tools/crosscheck: runs the core routine behind each public
// function (and the private inversion) on cases read from standard input,
// and writes each result to standard output in the bytes that wire.py makes
// of the installed module's result for the same call, so that the two can
// be compared byte for byte.
//
//   quorvel_crosscheck_driver --about          how it was built, key=value lines
//   quorvel_crosscheck_driver [--raw-nan] < cases > results
//
// --raw-nan writes every NaN as the arithmetic left it instead of as the
// canonical one: a fault planted on purpose, which the check must catch.
//
// Every double crosses as the 8 bytes of its bits, little-endian, put
// together and taken apart with shifts, so a big-endian processor reads and
// writes the very bits of a little-endian one. Inside, doubles are only
// copied as bits, never returned by value from a function of this file: on
// 32-bit x86 that passes through the x87 stack, which quiets a signalling
// NaN. Each call runs inside quorvel::FloatEnvironment, as the module's do.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>
#include <version>

#include "attribution.hpp"
#include "basics.hpp"
#include "float_environment.hpp"
#include "ieee.hpp"
#include "inverse.hpp"
#include "kernels/kernels.hpp"
#include "risk.hpp"
#include "weighting.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace {

using namespace quorvel;

[[noreturn]] void die(const char* what) {
  std::fprintf(stderr, "quorvel_crosscheck_driver: %s\n", what);
  std::exit(2);
}

/// The cases, read front to back. Any read past the end is fatal.
class Reader {
 public:
  explicit Reader(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}

  [[nodiscard]] std::uint64_t unsigned_le(std::size_t width) {
    if (bytes_.size() - at_ < width) die("cases end in the middle of a value");
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < width; ++k) v |= std::uint64_t{bytes_[at_ + k]} << (8 * k);
    at_ += width;
    return v;
  }
  [[nodiscard]] bool at_end() const noexcept { return at_ == bytes_.size(); }

  /// `count` doubles into out[0 .. count), each from its 8 bytes of bits.
  void doubles(std::size_t count, double* out) {
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint64_t bits = unsigned_le(8);
      std::memcpy(out + k, &bits, sizeof bits);
    }
  }

 private:
  std::vector<unsigned char> bytes_;
  std::size_t at_ = 0;
};

/// The arguments of one call, in the order of its parameters.
struct VectorArg {
  FloatVector values;
  [[nodiscard]] VectorView view() const noexcept { return {values.data(), values.size()}; }
};

struct MatrixArg {
  FloatVector values;
  MatrixView view;
};

VectorArg read_vector(Reader& in) {
  VectorArg v;
  v.values.resize(static_cast<std::size_t>(in.unsigned_le(4)));
  in.doubles(v.values.size(), v.values.data());
  return v;
}

/// Rows, columns (the first row's length), whether the rows were ragged,
/// and for a matrix that is not ragged its elements row after row.
MatrixArg read_matrix(Reader& in) {
  MatrixArg m;
  const auto rows = static_cast<std::size_t>(in.unsigned_le(4));
  const auto cols = static_cast<std::size_t>(in.unsigned_le(4));
  const bool ragged = in.unsigned_le(1) != 0;
  if (!ragged) {
    m.values.resize(rows * cols);
    in.doubles(m.values.size(), m.values.data());
  }
  m.view = {m.values.data(), rows, cols, static_cast<std::ptrdiff_t>(cols), 1, ragged};
  return m;
}

/// A double argument, its bits kept in a buffer of its own so that it is
/// handed over from memory.
struct ScalarArg {
  double value[1];
};

ScalarArg read_float(Reader& in) {
  ScalarArg s;
  in.doubles(1, s.value);
  return s;
}

/// The bytes of one result: 'f' and a double, 'l' a u32 count and the
/// doubles, 't' a u8 count and the items, 'n' for None, 'e' a u16 length
/// and "ExceptionType: message".
class Writer {
 public:
  explicit Writer(bool raw_nan) : raw_nan_(raw_nan) {}

  void number(const double& v) {
    record_ += 'f';
    put_double(v);
  }
  void list(const FloatVector& values) {
    record_ += 'l';
    put(values.size(), 4);
    for (const double& v : values) put_double(v);
  }
  void tuple(std::size_t count) {
    record_ += 't';
    put(count, 1);
  }
  void none() { record_ += 'n'; }
  void error(std::string_view type, std::string_view message) {
    record_ += 'e';
    put(type.size() + 2 + message.size(), 2);
    record_.append(type).append(": ").append(message);
  }

  /// Appends the record made since the last call, framed by its length.
  void end_record(std::string& out) {
    const std::uint64_t n = record_.size();
    for (int k = 0; k < 4; ++k) out += static_cast<char>((n >> (8 * k)) & 0xff);
    out += record_;
    record_.clear();
  }

 private:
  void put(std::uint64_t v, int width) {
    for (int k = 0; k < width; ++k) record_ += static_cast<char>((v >> (8 * k)) & 0xff);
  }
  void put_double(const double& v) {
    std::uint64_t bits;
    if (raw_nan_) {
      std::memcpy(&bits, &v, sizeof bits);
    } else {
      bits = std::bit_cast<std::uint64_t>(canonical(v));
    }
    put(bits, 8);
  }

  bool raw_nan_;
  std::string record_;
};

// How each result type is written: what python/results.cpp makes of it.
void emit(Writer& w, const double& v) { w.number(v); }
void emit(Writer& w, const FloatVector& v) { w.list(v); }
void emit(Writer& w, const Volatility& v) { w.number(v.value); }
void emit(Writer& w, const InverseVariance& v) { w.list(v.weights); }
void emit(Writer& w, const RiskParity& r) { w.list(r.weights); }
void emit(Writer& w, const InverseWeights& v) { w.list(v.weights); }
void emit(Writer& w, const RankWeights& v) { w.list(v.weights); }
void emit(Writer& w, const RiskContribution& r) {
  w.tuple(3);
  w.list(r.marginal);
  w.list(r.contribution);
  w.list(r.share);
}
void emit(Writer& w, const AttributionEffects& e) {
  w.tuple(4);
  w.number(e.allocation);
  w.number(e.selection);
  w.number(e.interaction);
  w.number(e.total);
}
void emit(Writer& w, const FactorDecomposition& d) {
  w.tuple(2);
  w.list(d.contributions);
  w.number(d.total);
}
template <class T>
void emit(Writer& w, const Result<T>& r) {
  if (r) {
    emit(w, *r);
  } else {
    w.error("ValueError", message(r.error()));
  }
}

/// _invert: the inverse row after row, None when a pivot is too small.
void emit_inverse(Writer& w, const MatrixView& matrix) {
  const auto n = check_square_matrix(matrix);
  if (!n) return w.error("ValueError", message(n.error()));
  Interrupt never;
  const auto inverse = invert_matrix(matrix, never);
  if (!inverse || !*inverse) return w.none();
  const MatrixView view = (*inverse)->view();
  FloatVector flat;
  for (std::size_t i = 0; i < *n; ++i) flat.insert(flat.end(), view.row(i), view.row(i) + *n);
  w.list(flat);
}

/// Runs one call inside the floating-point state the results are defined
/// under; a refused allocation is the MemoryError the module raises.
template <class Call>
void guarded(Writer& w, Call&& call) {
  try {
    FloatEnvironment environment;
    call();
  } catch (const std::bad_alloc&) {
    w.error("MemoryError", "");
  } catch (const std::length_error&) {
    w.error("MemoryError", "");
  }
}

using Run = void (*)(Reader&, Writer&);

/// The risk measures: a weight vector, then a covariance matrix.
template <auto Routine>
void weights_and_covariance(Reader& in, Writer& w) {
  const VectorArg v = read_vector(in);
  const MatrixArg m = read_matrix(in);
  guarded(w, [&] { emit(w, Routine(v.view(), m.view)); });
}

struct Entry {
  const char* name;
  const char* parameters;  ///< v vector, m matrix, c count, f float, b flag
  Run run;
};

// In the order of wire.FUNCTIONS; --about lists it for the check to compare.
constexpr Entry kEntries[] = {
    {"equal_weights", "c",
     [](Reader& in, Writer& w) {
       const std::uint64_t count = in.unsigned_le(8);
       guarded(w, [&] { emit(w, equal_weights(count)); });
     }},
    {"rank_weights", "vb",
     [](Reader& in, Writer& w) {
       const VectorArg v = read_vector(in);
       const bool ascending = in.unsigned_le(1) != 0;
       guarded(w, [&] { emit(w, rank_weights(v.view(), ascending)); });
     }},
    {"signal_proportional_weights", "v",
     [](Reader& in, Writer& w) {
       const VectorArg v = read_vector(in);
       guarded(w, [&] { emit(w, signal_proportional_weights(v.view())); });
     }},
    {"target_volatility_weights", "v",
     [](Reader& in, Writer& w) {
       const VectorArg v = read_vector(in);
       guarded(w, [&] { emit(w, target_volatility_weights(v.view())); });
     }},
    {"minimum_variance_weights", "m",
     [](Reader& in, Writer& w) {
       const MatrixArg m = read_matrix(in);
       guarded(w, [&] {
         Interrupt never;
         emit(w, minimum_variance_weights(m.view, never));
       });
     }},
    {"mean_variance_weights", "vmf",
     [](Reader& in, Writer& w) {
       const VectorArg v = read_vector(in);
       const MatrixArg m = read_matrix(in);
       const ScalarArg risk_aversion = read_float(in);
       guarded(w, [&] {
         Interrupt never;
         emit(w, mean_variance_weights(v.view(), m.view, risk_aversion.value[0], never));
       });
     }},
    {"risk_parity_weights", "mcf",
     [](Reader& in, Writer& w) {
       const MatrixArg m = read_matrix(in);
       const std::uint64_t max_iter = in.unsigned_le(8);
       const ScalarArg tolerance = read_float(in);
       guarded(w, [&] {
         Interrupt never;
         emit(w, risk_parity_weights(m.view, max_iter, tolerance.value[0], never));
       });
     }},
    {"hierarchical_risk_parity_weights", "m",
     [](Reader& in, Writer& w) {
       const MatrixArg m = read_matrix(in);
       guarded(w, [&] { emit(w, hierarchical_risk_parity_weights(m.view)); });
     }},
    {"portfolio_variance", "vm", weights_and_covariance<&portfolio_variance>},
    {"portfolio_volatility", "vm", weights_and_covariance<&portfolio_volatility>},
    {"risk_contribution", "vm", weights_and_covariance<&risk_contribution>},
    {"tracking_error", "vm", weights_and_covariance<&tracking_error>},
    {"active_share", "v",
     [](Reader& in, Writer& w) {
       const VectorArg v = read_vector(in);
       guarded(w, [&] { emit(w, active_share(v.view())); });
     }},
    {"brinson_attribution", "vvvv",
     [](Reader& in, Writer& w) {
       const VectorArg wp = read_vector(in);
       const VectorArg wb = read_vector(in);
       const VectorArg rp = read_vector(in);
       const VectorArg rb = read_vector(in);
       guarded(w, [&] { emit(w, brinson_attribution(wp.view(), wb.view(), rp.view(), rb.view())); });
     }},
    {"factor_return_decomposition", "vv",
     [](Reader& in, Writer& w) {
       const VectorArg e = read_vector(in);
       const VectorArg f = read_vector(in);
       guarded(w, [&] { emit(w, factor_return_decomposition(e.view(), f.view())); });
     }},
    {"_invert", "m",
     [](Reader& in, Writer& w) {
       const MatrixArg m = read_matrix(in);
       guarded(w, [&] { emit_inverse(w, m.view); });
     }},
};

/// Whether a signalling NaN read from the cases keeps its bits all the
/// way to the bytes written (the x87 stack would quiet it).
bool signalling_nan_kept() {
  const unsigned char bytes[] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xf0, 0xff};
  Reader in(std::vector<unsigned char>(bytes, bytes + sizeof bytes));
  ScalarArg s = read_float(in);
  std::string out;
  Writer w(/*raw_nan=*/true);
  w.number(s.value[0]);
  w.end_record(out);
  return out.size() == 13 && std::memcmp(out.data() + 5, bytes, sizeof bytes) == 0;
}

// The raw control register, read and written here without the library's
// help, and the states it is put in around a guarded call: every rounding
// mode the processor has, flush-to-zero, traps unmasked, and whatever else a
// caller might leave there. `kFlagBits` are the sticky flags in the register
// (the library leaves them as the arithmetic left them).
#if defined(__x86_64__) || defined(__i386__)
using Register = std::uint64_t;
Register read_register() { return _mm_getcsr(); }
void write_register(Register r) { _mm_setcsr(static_cast<unsigned>(r)); }
constexpr Register kDefaultRegister = 0x1f80, kFlagBits = 0x3f;
constexpr Register kOddRegisters[] = {0x5f80, 0x3f80, 0x7f80, 0x9fc0, 0x1f00, 0x0000, 0xff80 | 0x3f};
#elif defined(__aarch64__)
using Register = std::uint64_t;
Register read_register() {
  Register r;
  __asm__ __volatile__("mrs %0, fpcr" : "=r"(r));
  return r;
}
void write_register(Register r) { __asm__ __volatile__("msr fpcr, %0" : : "r"(r)); }
constexpr Register kDefaultRegister = 0, kFlagBits = 0;
constexpr Register kOddRegisters[] = {1u << 22, 2u << 22, 3u << 22, 1u << 24, 1u << 25,
                                      (1u << 25) | (1u << 22) | (1u << 24), 0x9f00};
#elif defined(__s390x__)
using Register = std::uint64_t;
Register read_register() {
  std::uint32_t r;
  __asm__ __volatile__("efpc %0" : "=d"(r));
  return r;
}
void write_register(Register r) {
  const auto v = static_cast<std::uint32_t>(r);
  __asm__ __volatile__("sfpc %0" : : "d"(v));
}
constexpr Register kDefaultRegister = 0, kFlagBits = 0x00fc0000;
constexpr Register kOddRegisters[] = {1, 2, 3, 7, 0xf8000000u, 0xf8000007u, 0x00f80000u | 7};
#endif

#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__s390x__)
/// The inputs of guarded_results, made once in the default state (making
/// them is arithmetic too).
struct GuardedInputs {
  FloatVector signals = {1.0, 2.0, 3.0, 7.0, 11.0};
  FloatVector subnormal = {5e-324, 1e-310, -3e-320};
  FloatVector weights;
  FloatVector spd = FloatVector(25);
  FloatVector cov = {1e300, 0.0, 0.0, 0.0, 1e-200, 0.0, 0.0, 0.0, 1.0};

  GuardedInputs() {
    static const unsigned char signalling[] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xf0, 0x7f};
    Reader in(std::vector<unsigned char>(signalling, signalling + sizeof signalling));
    weights.resize(3);
    in.doubles(1, weights.data());
    weights[1] = 1e300;
    weights[2] = 1e-200;
    for (std::size_t i = 0; i < 5; ++i) {
      for (std::size_t j = 0; j < 5; ++j) {
        spd[i * 5 + j] = (i == j ? 6.0 : 1.0) + 0.001 * static_cast<double>((i * 7 + j * 3) % 11);
      }
    }
  }
};

/// The bytes of a few results whose bits depend on the rounding mode, on
/// subnormals being honoured, or that raise every IEEE exception (a
/// signalling NaN, an overflow, an underflow, an inexact quotient), all
/// computed while `during` stands for whatever Python code may do mid-call.
template <class During>
std::string guarded_results(const GuardedInputs& in, During&& during) {
  const MatrixView spd{in.spd.data(), 5, 5, 5, 1, false};
  const MatrixView cov{in.cov.data(), 3, 3, 3, 1, false};
  std::string out;
  Writer w(/*raw_nan=*/false);
  {
    FloatEnvironment environment;
    during(environment);
    emit(w, signal_proportional_weights({in.signals.data(), in.signals.size()}));
    emit(w, active_share({in.subnormal.data(), in.subnormal.size()}));
    emit(w, portfolio_variance({in.weights.data(), in.weights.size()}, cov));
    Interrupt never;
    emit(w, minimum_variance_weights(spd, never));
    emit(w, risk_parity_weights(spd, 30, 0.0, never));
  }
  w.end_record(out);
  return out;
}

/// Whether every call computes the same bytes whatever state the register
/// was in, or was put in mid-call, and gives the register back as it found
/// it, bit for bit but for the flags its arithmetic raised. "kept", or what
/// went wrong.
std::string float_environment_check() {
  char text[160];
  write_register(kDefaultRegister);
  const GuardedInputs in;
  const std::string want = guarded_results(in, [](FloatEnvironment&) {});
  for (const Register odd : kOddRegisters) {
    // The caller's state, found at the call's start (as the processor holds
    // it: qemu's aarch64 keeps no trap enables, for one).
    write_register(odd);
    const Register found = read_register();
    const std::string got = guarded_results(in, [](FloatEnvironment&) {});
    const Register back = read_register();
    write_register(kDefaultRegister);
    if (got != want || (back & ~kFlagBits) != (found & ~kFlagBits)) {
      std::snprintf(text, sizeof text, "lost:found-%llx-back-%llx-%s", static_cast<unsigned long long>(found),
                    static_cast<unsigned long long>(back), got == want ? "same-bytes" : "other-bytes");
      return text;
    }
    // The same state set in the middle of a call, as a signal handler might.
    const std::string mid = guarded_results(in, [odd](FloatEnvironment& environment) {
      write_register(odd);
      environment.enforce();
    });
    const Register after = read_register();
    write_register(kDefaultRegister);
    if (mid != want || (after & ~kFlagBits) != kDefaultRegister) {
      std::snprintf(text, sizeof text, "lost:set-mid-call-%llx-back-%llx-%s", static_cast<unsigned long long>(odd),
                    static_cast<unsigned long long>(after), mid == want ? "same-bytes" : "other-bytes");
      return text;
    }
  }
  return "kept";
}
#else
std::string float_environment_check() { return "unchecked"; }
#endif

void about() {
#if defined(__clang__)
  std::printf("compiler=clang %d.%d.%d\n", __clang_major__, __clang_minor__, __clang_patchlevel__);
#elif defined(__GNUC__)
  std::printf("compiler=GCC %d.%d.%d\n", __GNUC__, __GNUC_MINOR__, __GNUC_PATCHLEVEL__);
#else
  std::printf("compiler=unknown\n");
#endif
#if defined(_LIBCPP_VERSION)
  std::printf("stdlib=libc++ %d\n", _LIBCPP_VERSION);
#elif defined(_GLIBCXX_RELEASE)
  std::printf("stdlib=libstdc++ %d\n", _GLIBCXX_RELEASE);
#else
  std::printf("stdlib=unknown\n");
#endif
#if defined(__aarch64__)
  std::printf("processor=aarch64\n");
#elif defined(__s390x__)
  std::printf("processor=s390x\n");
#elif defined(__x86_64__)
  std::printf("processor=x86_64\n");
#elif defined(__i386__)
  std::printf("processor=i386\n");
#else
  std::printf("processor=other\n");
#endif
  std::printf("endian=%s\n", std::endian::native == std::endian::big ? "big" : "little");
  std::printf("pointer_bits=%d\n", static_cast<int>(sizeof(void*) * 8));
  std::printf("flt_eval_method=%d\n", static_cast<int>(FLT_EVAL_METHOD));
#if defined(__SSE2_MATH__)
  std::printf("sse2_math=1\n");
#else
  std::printf("sse2_math=0\n");
#endif
  std::printf("kernels=%s\n", kernels::active_kernels());
  std::printf("signalling_nan_kept=%d\n", signalling_nan_kept() ? 1 : 0);
  std::printf("float_environment=%s\n", float_environment_check().c_str());
  std::printf("functions=");
  for (std::size_t i = 0; i < std::size(kEntries); ++i) {
    std::printf("%s%s:%s", i ? "," : "", kEntries[i].name, kEntries[i].parameters);
  }
  std::printf("\n");
}

std::vector<unsigned char> read_all(std::FILE* f) {
  std::vector<unsigned char> bytes;
  unsigned char chunk[1 << 16];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  if (std::ferror(f)) die("cannot read the cases");
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  bool raw_nan = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--about") {
      about();
      return 0;
    }
    if (arg != "--raw-nan") die("usage: quorvel_crosscheck_driver [--about | --raw-nan] < cases > results");
    raw_nan = true;
  }
  Reader in(read_all(stdin));
  if (in.unsigned_le(4) != 0x43435651u) die("the cases do not start with QVCC");  // "QVCC"
  if (in.unsigned_le(4) != 1) die("the cases are of another version");
  const std::uint64_t count = in.unsigned_le(4);

  std::string out = "QVCR";
  Writer w(raw_nan);
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t id = in.unsigned_le(1);
    if (id >= std::size(kEntries)) die("unknown function in the cases");
    kEntries[id].run(in, w);
    w.end_record(out);
  }
  if (!in.at_end()) die("bytes left over after the last case");
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    die("cannot write the results");
  }
  return 0;
}
