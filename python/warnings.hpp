// RuntimeWarnings for results that are returned as specified but may not be
// what the caller meant: a degenerate variance reported as zero risk,
// variances floored into near-total weights, an iteration stopped short, a
// covariance inverted only after a ridge, or too ill-conditioned for its
// inverse to mean anything, a covariance that is not symmetric, NaN among
// values to rank. Each says which function, what was degenerate, and what
// was returned instead. What is returned never changes.
//
// Warnings are data. Each is one entry in the row of the function that
// gives it (function_table.cpp, `.says(...)`): a small value of one of the
// kinds below, holding only the wording that differs between functions. A
// kind reads facts that the core returned under names of their own (the
// fields `variance`, `negative`, `inversion`, `asymmetry`, `nans` ... of
// the result) or facts of the converted arguments, tests them inline (a
// comparison or two, paid by every call) and makes its text out of line,
// only when it fires. The parameters it names come from the row: the one
// vector parameter, the one matrix parameter (CallSite); a kind says which
// it names (kNames), and a row listing it without exactly one such
// parameter does not compile. So no text can name the wrong argument.
//
// To add a warning: give the core result (or the converted argument) a
// field for the fact; add a kind here with `kNames`, `fires(out, args)`
// and `say(out, args, site)` (its text in warnings.cpp); list it in the
// rows that can give it. A warning whose facts come from the conversion of
// the arguments reads them through `args` (dispatch.hpp's Arguments:
// args.vector(), args.matrix()), the same way.
#pragma once

#include <string_view>

#include "arguments.hpp"
#include "ieee.hpp"
#include "inverse.hpp"
#include "risk.hpp"
#include "weighting.hpp"

namespace quorvel::py {

/// The names a warning may use: the function's, and the parameters holding
/// the call's one vector and its one matrix (empty where the row has none,
/// or several, of that kind).
struct CallSite {
  std::string_view function;
  std::string_view vector;
  std::string_view matrix;
};

/// Which of the call's arguments a kind of warning names in its text.
enum Names : unsigned { kNamesNothing = 0, kNamesVector = 1, kNamesMatrix = 2 };

// The texts, made only when a warning fires. Each issues the warning and
// returns false when a filter turned it into an exception, which is then
// set.
[[nodiscard]] bool warn_degenerate(const CallSite& site, double variance, const NonFinite& culprit,
                                   const NegativeVariance& negative, std::string_view reported);
[[nodiscard]] bool warn_floored(const CallSite& site, const FlooredVariances& floored,
                                std::string_view one, std::string_view several);
[[nodiscard]] bool warn_not_converged(const CallSite& site, const RiskParity& r);
[[nodiscard]] bool warn_ridged(const CallSite& site, const InversionFacts& inversion,
                               std::size_t n);
[[nodiscard]] bool warn_ill_conditioned(const CallSite& site, const InversionFacts& inversion);
[[nodiscard]] bool warn_asymmetric(const CallSite& site, const Asymmetry& asymmetry);
[[nodiscard]] bool warn_nan_values(const CallSite& site, const NaNs& nans, std::size_t count);
[[nodiscard]] bool warn_matrix_labels(const CallSite& site, const LabelMismatch& mismatch);
[[nodiscard]] bool warn_vector_labels(const CallSite& site, const LabelMismatch& mismatch);

/// A pandas DataFrame's index and columns are not the same labels in the
/// same order (facts the reader found: Arguments::matrix_labels).
struct MatrixLabels {
  static constexpr unsigned kNames = kNamesMatrix;

  template <class Out, class Args>
  [[nodiscard]] bool fires(const Out&, const Args& args) const noexcept {
    return args.matrix_labels() != nullptr;
  }
  template <class Out, class Args>
  [[nodiscard]] bool say(const Out&, const Args& args, const CallSite& site) const {
    return warn_matrix_labels(site, *args.matrix_labels());
  }
};

/// A pandas Series' index and a DataFrame's columns are not the same labels
/// in the same order (Arguments::vector_labels).
struct VectorLabels {
  static constexpr unsigned kNames = kNamesVector | kNamesMatrix;

  template <class Out, class Args>
  [[nodiscard]] bool fires(const Out&, const Args& args) const noexcept {
    return args.vector_labels() != nullptr;
  }
  template <class Out, class Args>
  [[nodiscard]] bool say(const Out&, const Args& args, const CallSite& site) const {
    return warn_vector_labels(site, *args.vector_labels());
  }
};

/// The variance behind a volatility (or a risk decomposition) is NaN, or
/// negative by more than the rounding error bound of its computation (so
/// the covariance is certainly not positive semi-definite). A negative
/// variance within that bound is zero as far as the arithmetic can tell,
/// and is as silent as +0.0 and -0.0. `reported` says what came back
/// instead ("volatility reported as 0.0").
struct DegenerateVariance {
  static constexpr unsigned kNames = kNamesVector | kNamesMatrix;
  std::string_view reported;

  template <class Out, class Args>
  [[nodiscard]] bool fires(const Out& out, const Args&) const noexcept {
    return is_nan(out.variance) || (out.variance < 0.0 && !out.negative.within_rounding);
  }
  template <class Out, class Args>
  [[nodiscard]] bool say(const Out& out, const Args&, const CallSite& site) const {
    return warn_degenerate(site, out.variance, out.culprit, out.negative, reported);
  }
};

/// Diagonal variances were NaN or negative and counted as the floor: "so
/// that asset " + `one`, or "so those assets " + `several`.
struct FlooredDiagonal {
  static constexpr unsigned kNames = kNamesMatrix;
  std::string_view one;
  std::string_view several;

  template <class Out, class Args>
  [[nodiscard]] bool fires(const Out& out, const Args&) const noexcept {
    return out.floored.count != 0;
  }
  template <class Out, class Args>
  [[nodiscard]] bool say(const Out& out, const Args&, const CallSite& site) const {
    return warn_floored(site, out.floored, one, several);
  }
};

/// Risk parity was asked to converge (a tolerance above zero, at least one
/// pass) and stopped without reaching it.
struct NotConverged {
  static constexpr unsigned kNames = kNamesNothing;

  template <class Args>
  [[nodiscard]] bool fires(const RiskParity& r, const Args&) const noexcept {
    const bool stopped_short =
        r.stop == RiskParityStop::PassesExhausted || r.stop == RiskParityStop::VarianceNotPositive;
    return r.tolerance > 0.0 && stopped_short;
  }
  template <class Args>
  [[nodiscard]] bool say(const RiskParity& r, const Args&, const CallSite& site) const {
    return warn_not_converged(site, r);
  }
};

/// The first inversion met a pivot below the threshold, and the inverse
/// used is that of the covariance with the ridge on its diagonal.
struct Ridged {
  static constexpr unsigned kNames = kNamesMatrix;

  template <class Out, class Args>
  [[nodiscard]] bool fires(const Out& out, const Args&) const noexcept {
    return out.inversion.ridged;
  }
  template <class Out, class Args>
  [[nodiscard]] bool say(const Out& out, const Args&, const CallSite& site) const {
    return warn_ridged(site, out.inversion, out.weights.size());
  }
};

/// The matrix inverted has a reciprocal 1-norm condition number below the
/// unit roundoff: its inverse, and what is built on it, is rounding noise.
/// NaN (a NaN in the covariance, which shows in the weights) is silent.
struct IllConditioned {
  static constexpr unsigned kNames = kNamesMatrix;

  template <class Out, class Args>
  [[nodiscard]] bool fires(const Out& out, const Args&) const noexcept {
    return out.inversion.reciprocal_condition < kUnitRoundoff;
  }
  template <class Out, class Args>
  [[nodiscard]] bool say(const Out& out, const Args&, const CallSite& site) const {
    return warn_ill_conditioned(site, out.inversion);
  }
};

/// The covariance is not exactly equal to its transpose.
struct Asymmetric {
  static constexpr unsigned kNames = kNamesMatrix;

  template <class Out, class Args>
  [[nodiscard]] bool fires(const Out& out, const Args&) const noexcept {
    return out.asymmetry.found;
  }
  template <class Out, class Args>
  [[nodiscard]] bool say(const Out& out, const Args&, const CallSite& site) const {
    return warn_asymmetric(site, out.asymmetry);
  }
};

/// Values to rank hold NaN, which compares equal to every value.
struct NaNValues {
  static constexpr unsigned kNames = kNamesVector;

  template <class Out, class Args>
  [[nodiscard]] bool fires(const Out& out, const Args&) const noexcept {
    return out.nans.count != 0;
  }
  template <class Out, class Args>
  [[nodiscard]] bool say(const Out& out, const Args&, const CallSite& site) const {
    return warn_nan_values(site, out.nans, out.weights.size());
  }
};

}  // namespace quorvel::py
