#include "results.hpp"

#include <charconv>
#include <string>

namespace quorvel::py {
namespace {

/// The shortest text that reads back as the same double, as repr() gives.
std::string shortest(double value) {
  char text[32];
  const auto done = std::to_chars(text, text + sizeof text, value);
  return std::string(text, done.ptr);
}

}  // namespace

bool warn_not_converged(const RiskParity& r) {
  std::string message = "risk_parity_weights did not converge: after " +
                        std::to_string(r.passes) + (r.passes == 1 ? " pass " : " passes ");
  if (r.stop == RiskParityStop::VarianceNotPositive) {
    message += "the portfolio variance is not positive";
    if (r.passes > 0) {
      message += " (the last largest deviation of a risk share from 1/n was " +
                 shortest(r.deviation) + ")";
    }
  } else {
    message += "the largest deviation of a risk share from 1/n is " + shortest(r.deviation) +
               ", not below the tolerance " + shortest(r.tolerance);
  }
  message += "; check the shares with risk_contribution()";
  return PyErr_WarnEx(PyExc_RuntimeWarning, message.c_str(), 1) == 0;
}

}  // namespace quorvel::py
