// The function table: one row per public function, in registration order.
// Adding a function is adding a row: its name, parameter names, one caster
// per parameter (converters.hpp), its core routine and how its work grows
// (long_calls.hpp); the result's Python shape follows from the routine's
// return type (results.hpp). The warnings a function can give are listed
// in its row with says(), one entry each, in the order they are issued
// (warnings.hpp).
#include "function_table.hpp"

#include <algorithm>
#include <tuple>

#include "attribution.hpp"
#include "basics.hpp"
#include "dispatch.hpp"
#include "warnings.hpp"
#include "risk.hpp"
#include "weighting.hpp"

namespace quorvel::py {
namespace {

constexpr auto kFunctions = std::make_tuple(
    Function<&equal_weights, Cost::Linear, Count>{"equal_weights", {"count"}},
    Function<&rank_weights, Cost::Linear, Vector, Flag>{"rank_weights", {"values", "ascending"}}
        .says(NaNValues{}),
    Function<&signal_proportional_weights, Cost::Linear, Vector>{"signal_proportional_weights",
                                                                  {"values"}},
    Function<&target_volatility_weights, Cost::Linear, Vector>{"target_volatility_weights",
                                                                {"volatility"}},
    Function<&minimum_variance_weights, Cost::Cubic, Matrix>{"minimum_variance_weights",
                                                             {"covariance"}}
        .says(MatrixLabels{}, Asymmetric{}, Ridged{}, IllConditioned{}),
    Function<&mean_variance_weights, Cost::Cubic, Vector, Matrix, Float>{
        "mean_variance_weights", {"expected_returns", "covariance", "risk_aversion"}}
        .says(MatrixLabels{}, VectorLabels{}, Asymmetric{}, Ridged{}, IllConditioned{}),
    Function<&risk_parity_weights, Cost::Passes, Matrix, Count, Float>{
        "risk_parity_weights", {"covariance", "max_iter", "tolerance"}}
        .says(MatrixLabels{}, Asymmetric{},
              FlooredDiagonal{"starts with nearly all the weight", "start with nearly all the weight"},
              NotConverged{}),
    Function<&hierarchical_risk_parity_weights, Cost::Linear, Matrix>{
        "hierarchical_risk_parity_weights", {"covariance"}}
        .says(MatrixLabels{}, FlooredDiagonal{"takes nearly all the weight", "take nearly all the weight"}),
    Function<&portfolio_variance, Cost::Linear, Vector, Matrix>{"portfolio_variance",
                                                                {"weights", "covariance"}}
        .says(MatrixLabels{}, VectorLabels{}),
    Function<&portfolio_volatility, Cost::Linear, Vector, Matrix>{"portfolio_volatility",
                                                                  {"weights", "covariance"}}
        .says(MatrixLabels{}, VectorLabels{}, DegenerateVariance{"volatility reported as 0.0"}),
    Function<&risk_contribution, Cost::Linear, Vector, Matrix>{"risk_contribution",
                                                               {"weights", "covariance"}}
        .says(MatrixLabels{}, VectorLabels{},
              DegenerateVariance{"marginal contributions and shares reported as 0.0"}),
    Function<&tracking_error, Cost::Linear, Vector, Matrix>{"tracking_error",
                                                            {"active_weights", "covariance"}}
        .says(MatrixLabels{}, VectorLabels{}, DegenerateVariance{"tracking error reported as 0.0"}),
    Function<&active_share, Cost::Linear, Vector>{"active_share", {"active_weights"}},
    Function<&brinson_attribution, Cost::Linear, Vector, Vector, Vector, Vector>{
        "brinson_attribution",
        {"portfolio_weights", "benchmark_weights", "portfolio_returns", "benchmark_returns"}},
    Function<&factor_return_decomposition, Cost::Linear, Vector, Vector>{
        "factor_return_decomposition", {"exposures", "factor_returns"}});

}  // namespace

std::span<const PyMethodDef> public_functions() {
  const auto& records = MethodRecords<kFunctions>::get();
  return {records.begin(), records.end()};
}

}  // namespace quorvel::py
