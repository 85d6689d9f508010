#include <cstdint>

#include "basics.hpp"
#include "ieee.hpp"
#include "invariant.hpp"
#include "weighting.hpp"

namespace quorvel {
namespace {

struct RankedValue {
  std::uint64_t position;
  double value;
};

/// Up to this many records the order is exactly that of straight insertion.
constexpr std::size_t kInsertionLimit = 20;

/// "a comes strictly before b". Equal values, +0.0 against -0.0 and anything
/// against NaN are neither before nor after. With NaN this is not a strict
/// weak order, so the sorts below rely only on each single answer, never on
/// transitivity: they stay in bounds and terminate whatever it says.
struct Before {
  bool ascending;
  bool operator()(const RankedValue& a, const RankedValue& b) const noexcept {
    return ascending ? a.value < b.value : a.value > b.value;
  }
};

/// Moves each record left past every neighbour that it comes strictly before.
void insertion_sort(RankedValue* first, std::size_t n, Before before) noexcept {
  for (std::size_t i = 1; i < n; ++i) {
    const RankedValue x = first[i];
    std::size_t j = i;
    while (j > 0 && before(x, first[j - 1])) {
      first[j] = first[j - 1];
      --j;
    }
    first[j] = x;
  }
}

/// Stable bottom-up merge sort: runs of kInsertionLimit sorted by insertion,
/// then merged pairwise, taking from the right run only when its head comes
/// strictly before the left run's head. Every index stays within [0, n).
void merge_sort(std::vector<RankedValue>& records, Before before) {
  const std::size_t n = records.size();
  for (std::size_t lo = 0; lo < n; lo += kInsertionLimit) {
    const std::size_t len = n - lo < kInsertionLimit ? n - lo : kInsertionLimit;
    insertion_sort(records.data() + lo, len, before);
  }
  std::vector<RankedValue> buffer(n);
  RankedValue* src = records.data();
  RankedValue* dst = buffer.data();
  for (std::size_t width = kInsertionLimit; width < n; width *= 2) {
    for (std::size_t lo = 0; lo < n; lo += 2 * width) {
      const std::size_t mid = lo + width < n ? lo + width : n;
      const std::size_t hi = mid + width < n ? mid + width : n;
      std::size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) dst[k++] = before(src[j], src[i]) ? src[j++] : src[i++];
      while (i < mid) dst[k++] = src[i++];
      while (j < hi) dst[k++] = src[j++];
    }
    std::swap(src, dst);
  }
  if (src != records.data()) std::copy(src, src + n, records.data());
}

}  // namespace

Result<RankWeights> rank_weights(VectorView values, bool ascending) {
  const std::size_t n = values.size();
  if (n == 0) return fail(CoreError::EmptySignals);

  std::vector<RankedValue> records(n);
  NaNs nans;
  for (std::size_t i = 0; i < n; ++i) {
    records[i] = {i, values[i]};
    if (is_nan(values[i]) && nans.count++ == 0) nans.first = i;
  }

  const Before before{ascending};
  if (n <= kInsertionLimit) {
    insertion_sort(records.data(), n, before);
  } else {
    merge_sort(records, before);
  }

  // Each sorted place k hands rank k + 1 to the position it holds; the sort
  // only permutes, so every position is written exactly once.
  FloatVector ranks(n, 0.0);
  for (std::size_t k = 0; k < n; ++k) {
    const std::uint64_t position = records[k].position;
    QUORVEL_INVARIANT(position < n, "sorted record outside the input");
    ranks[position] = static_cast<double>(k) + 1.0;
  }
  auto weights = normalize_weights(std::move(ranks), /*absolute=*/false);
  if (!weights) return fail(weights.error());
  return RankWeights{std::move(*weights), nans};
}

}  // namespace quorvel
