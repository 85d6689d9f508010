#include "warnings.hpp"

#include <limits>
#include <optional>
#include <string>

#include "gauss_jordan.hpp"
#include "errors.hpp"
#include "ieee.hpp"
#include "ref.hpp"

namespace quorvel::py {
namespace {

/// The shortest text that reads back as the same double, as repr() of the
/// float writes it: the interpreter's own formatting, called directly.
/// (repr() itself first runs any pending signal handler, which may change
/// the floating-point state the digits are computed in; this runs no
/// Python code.) Empty if the interpreter cannot make it (out of memory).
std::string shortest(double value) {
  char* text = PyOS_double_to_string(canonical(value), 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
  if (text == nullptr) {
    PyErr_Clear();
    return {};
  }
  std::string out(text);
  PyMem_Free(text);
  return out;
}

/// "NaN" for any NaN, else the shortest text.
std::string number(double value) { return is_nan(value) ? std::string("NaN") : shortest(value); }

bool warn(const std::string& message) {
  return PyErr_WarnEx(PyExc_RuntimeWarning, message.c_str(), 1) == 0;
}

std::string entry(std::string_view matrix, std::size_t row, std::size_t col) {
  return std::string(matrix) + "[" + std::to_string(row) + "][" + std::to_string(col) + "]";
}

/// "weights[3] is NaN", "covariance[2][1] is inf": the first non-finite
/// input.
std::string where(const CallSite& site, const NonFinite& culprit) {
  switch (culprit.where) {
    case NonFinite::In::Vector:
      return std::string(site.vector) + "[" + std::to_string(culprit.row) + "] is " +
             number(culprit.value);
    case NonFinite::In::Matrix:
      return entry(site.matrix, culprit.row, culprit.col) + " is " + number(culprit.value);
    case NonFinite::In::Nowhere:
      break;
  }
  return "every input is finite: the arithmetic overflowed";
}

/// What the two inversion warnings suggest.
constexpr std::string_view kCures =
    "use more observations than assets, or a shrinkage covariance";

}  // namespace

bool warn_degenerate(const CallSite& site, double variance, const NonFinite& culprit,
                     const NegativeVariance& negative, std::string_view reported) {
  std::string message(site.function);
  if (is_nan(variance)) {
    message += ": portfolio variance is NaN (" + where(site, culprit) + ")";
  } else if (negative.bound <= std::numeric_limits<double>::max()) {
    message += ": portfolio variance is negative (" + shortest(variance) +
               "), more than the rounding error bound of its computation (" +
               shortest(negative.bound) + "), so the covariance matrix is not positive semi-definite";
  } else {
    message += ": portfolio variance is negative (" + shortest(variance) +
               ") and the rounding error bound of its computation overflows, so the covariance "
               "matrix may not be positive semi-definite";
  }
  message += "; ";
  message += reported;
  return warn(message);
}

bool warn_floored(const CallSite& site, const FlooredVariances& floored, std::string_view one,
                  std::string_view several) {
  const std::string diagonal = entry(site.matrix, floored.first, floored.first);
  const std::string value = number(floored.value);
  std::string message(site.function);
  if (floored.count == 1) {
    message += ": the variance of asset " + std::to_string(floored.first) + " (" + diagonal +
               ") is " + value + "; it is counted as " + shortest(floored.floor) +
               ", so that asset ";
    message += one;
  } else {
    message += ": " + std::to_string(floored.count) +
               " diagonal variances are NaN or negative, the first " + diagonal + " = " + value +
               "; each is counted as " + shortest(floored.floor) + ", so those assets ";
    message += several;
  }
  return warn(message);
}

bool warn_not_converged(const CallSite& site, const RiskParity& r) {
  std::string message = std::string(site.function) + " did not converge: after " +
                        std::to_string(r.passes) + (r.passes == 1 ? " pass " : " passes ");
  if (r.stop == RiskParityStop::VarianceNotPositive) {
    message += "the portfolio variance is ";
    message += is_nan(r.variance) ? std::string("NaN")
               : r.variance == 0.0 ? std::string("zero")
                                   : "negative (" + shortest(r.variance) + ")";
    if (r.passes > 0) {
      message += " (the last largest deviation of a risk share from 1/n was " +
                 shortest(r.deviation) + ")";
    }
  } else {
    message += "the largest deviation of a risk share from 1/n is " + shortest(r.deviation) +
               ", not below the tolerance " + shortest(r.tolerance);
  }
  message += "; check the shares with risk_contribution()";
  return warn(message);
}

bool warn_ridged(const CallSite& site, const InversionFacts& inversion, std::size_t n) {
  std::string message(site.function);
  message += ": ";
  message += site.matrix;
  message += " is singular to working precision: inverting it found no pivot of magnitude " +
             shortest(kPivotThreshold) + " or more at pivot step " +
             std::to_string(inversion.singular_column + 1) + " of " + std::to_string(n) +
             " (column " + std::to_string(inversion.singular_column) +
             "), so it was inverted with " +
             shortest(kDiagonalRidge) +
             " added to its diagonal, and the weights are those of that ridged matrix; use more "
             "observations than assets, a shrinkage covariance, or units in which the variances "
             "are well above " +
             shortest(kPivotThreshold);
  return warn(message);
}

bool warn_ill_conditioned(const CallSite& site, const InversionFacts& inversion) {
  std::string message(site.function);
  message += ": ";
  message += site.matrix;
  message += inversion.ridged ? " with the ridge on its diagonal" : "";
  message += " is numerically singular: its reciprocal condition number "
             "1/(norm1(S) * norm1(inverse(S))) is " +
             shortest(inversion.reciprocal_condition) + ", below the unit roundoff 2**-53 (" +
             shortest(kUnitRoundoff) +
             "), so rounding decides the inverse and the weights built on it; ";
  message += kCures;
  return warn(message);
}

bool warn_asymmetric(const CallSite& site, const Asymmetry& asymmetry) {
  std::string message(site.function);
  message += ": ";
  message += site.matrix;
  message += " is not symmetric: " + entry(site.matrix, asymmetry.row, asymmetry.col) + " is " +
             number(asymmetry.upper) + " but " + entry(site.matrix, asymmetry.col, asymmetry.row) +
             " is " + number(asymmetry.lower) +
             "; the weights are those of the matrix as given (average it with its transpose "
             "if a covariance was meant)";
  return warn(message);
}

bool warn_nan_values(const CallSite& site, const NaNs& nans, std::size_t count) {
  std::string message(site.function);
  message += ": ";
  message += site.vector;
  message.append("[").append(std::to_string(nans.first)).append("] is NaN");
  if (nans.count > 1) {
    message.append(" (").append(std::to_string(nans.count)).append(" of ");
    message.append(std::to_string(count)).append(" values are NaN)");
  }
  message +=
      "; NaN compares equal to every value, so it is given a rank of its own and the other "
      "values may not be ranked in their order; drop or fill NaN values first";
  return warn(message);
}

}  // namespace quorvel::py

namespace quorvel::py {
namespace {

/// repr() of a label, or "?" when it cannot be had; empty with the
/// exception left set when an interrupt (KeyboardInterrupt, SystemExit)
/// came meanwhile. A float's digits are made as for the numbers of every
/// warning; other labels' repr() may run Python code (a signal handler, a
/// __repr__), after which the state is set again by the next warning that
/// formats numbers.
std::optional<std::string> label_text(PyObject* label) {
  if (PyFloat_CheckExact(label)) return shortest(PyFloat_AsDouble(label));
  Ref text = Ref::steal(PyObject_Repr(label));
  Py_ssize_t size = 0;
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
  if (utf8 == nullptr) {
    if (!clear_if_ordinary()) return std::nullopt;
    return "?";
  }
  return std::string(utf8, static_cast<std::size_t>(size));
}

/// " differ at position 3 ('a' and 'c'); ", or empty with an interrupt set.
std::optional<std::string> where(const LabelMismatch& m) {
  const auto first = label_text(m.first_label.get());
  if (!first) return std::nullopt;
  const auto second = label_text(m.second_label.get());
  if (!second) return std::nullopt;
  return " differ at position " + std::to_string(m.position) + " (" + *first + " and " + *second + "); ";
}

}  // namespace

bool warn_matrix_labels(const CallSite& site, const LabelMismatch& m) {
  const auto differ = where(m);
  return differ && warn(std::string(site.function) + ": the index and the columns of " +
                        std::string(site.matrix) + *differ +
                        "rows and columns are matched by position, not by label");
}

bool warn_vector_labels(const CallSite& site, const LabelMismatch& m) {
  const auto differ = where(m);
  return differ && warn(std::string(site.function) + ": the index of " + std::string(site.vector) +
                        " and the columns of " + std::string(site.matrix) + *differ +
                        "values are matched by position, not by label");
}

}  // namespace quorvel::py
