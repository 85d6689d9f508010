#include "warnings.hpp"

#include <string>

#include "arguments.hpp"
#include "ieee.hpp"
#include "ref.hpp"

namespace quorvel::py {
namespace {

/// The shortest text that reads back as the same double: repr() of the
/// float, from the interpreter's own formatting (C code, no Python runs).
/// Empty if the interpreter cannot make it (out of memory).
std::string shortest(double value) {
  Ref number = Ref::steal(PyFloat_FromDouble(canonical(value)));
  Ref text = number ? Ref::steal(PyObject_Repr(number.get())) : Ref();
  Py_ssize_t size = 0;
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return {};
  }
  return std::string(utf8, static_cast<std::size_t>(size));
}

bool warn(const std::string& message) {
  return PyErr_WarnEx(PyExc_RuntimeWarning, message.c_str(), 1) == 0;
}

std::string parameter(const CallSite& site, std::size_t i) {
  return i < site.parameters.size() ? std::string(site.parameters[i]) : std::string("argument");
}

}  // namespace

std::string parameter_name(const CallSite& site, std::size_t i) { return parameter(site, i); }

namespace {

/// "weights[3] is NaN", "covariance[2][1] is inf": the first non-finite
/// input (the vector is the call's first parameter, the matrix its second).
std::string where(const CallSite& site, const NonFinite& culprit) {
  switch (culprit.where) {
    case NonFinite::In::Vector:
      return parameter(site, 0) + "[" + std::to_string(culprit.row) + "] is " +
             (is_nan(culprit.value) ? "NaN" : shortest(culprit.value));
    case NonFinite::In::Matrix:
      return parameter(site, 1) + "[" + std::to_string(culprit.row) + "][" +
             std::to_string(culprit.col) + "] is " +
             (is_nan(culprit.value) ? "NaN" : shortest(culprit.value));
    case NonFinite::In::Nowhere:
      break;
  }
  return "every input is finite: the arithmetic overflowed";
}

}  // namespace

bool warn_degenerate(const CallSite& site, double variance, const NonFinite& culprit,
                     std::string_view reported) {
  std::string message(site.function);
  if (is_nan(variance)) {
    message += ": portfolio variance is NaN (" + where(site, culprit) + ")";
  } else {
    message += ": portfolio variance is negative (" + shortest(variance) +
               "), so the covariance matrix is not positive semi-definite";
  }
  message += "; ";
  message += reported;
  return warn(message);
}

bool warn_floored(const CallSite& site, const FlooredVariances& floored, std::string_view one,
                  std::string_view several) {
  const std::string entry = parameter(site, 0) + "[" + std::to_string(floored.first) + "][" +
                            std::to_string(floored.first) + "]";
  const std::string value = is_nan(floored.value) ? "NaN" : shortest(floored.value);
  std::string message(site.function);
  if (floored.count == 1) {
    message += ": the variance of asset " + std::to_string(floored.first) + " (" + entry + ") is " +
               value + "; it is counted as " + shortest(floored.floor) + ", so that asset ";
    message += one;
  } else {
    message += ": " + std::to_string(floored.count) +
               " diagonal variances are NaN or negative, the first " + entry + " = " + value +
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

}  // namespace quorvel::py

namespace quorvel::py {
namespace {

/// repr() of a label, or "?" when it cannot be had.
std::string label_text(PyObject* label) {
  if (label == nullptr) return "nothing";
  Ref text = Ref::steal(PyObject_Repr(label));
  Py_ssize_t size = 0;
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return "?";
  }
  return std::string(utf8, static_cast<std::size_t>(size));
}

std::string axis_of(const CallSite& site, std::size_t parameter, LabelAxis axis) {
  const char* what = axis == LabelAxis::Columns ? "the columns of " : "the index of ";
  return what + parameter_name(site, parameter);
}

}  // namespace

bool warn_label_mismatches(const CallSite& site, const Conversion& conversion) {
  for (const LabelMismatch& m : conversion.mismatches()) {
    std::string message(site.function);
    message += ": ";
    const bool one_frame = m.first_parameter == m.second_parameter;
    if (one_frame) {
      message += "the index and the columns of " + parameter_name(site, m.first_parameter);
    } else {
      message += axis_of(site, m.first_parameter, m.first_axis) + " and " +
                 axis_of(site, m.second_parameter, m.second_axis);
    }
    message += " differ at position " + std::to_string(m.position) + " (" +
               label_text(m.first_label.get()) + " and " + label_text(m.second_label.get()) + "); ";
    message += one_frame ? "rows and columns are matched by position, not by label"
                         : "values are matched by position, not by label";
    if (!warn(message)) return false;
  }
  return true;
}

}  // namespace quorvel::py
