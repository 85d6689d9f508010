#include "arguments.hpp"

#include <utility>

#include "float_environment.hpp"
#include "invariant.hpp"
#include "conversion_rules.hpp"  // last: see there

namespace quorvel::py {

void Conversion::reading_in_place(InPlace& argument) noexcept {
  QUORVEL_INVARIANT(count_ < capacity_, "more in-place arguments than the signature has");
  slots_[count_++] = &argument;
}

void Conversion::detach_all() {
  ran_python_code_ = true;
  for (std::size_t i = 0; i < count_; ++i) slots_[i]->detach();
  count_ = 0;
}

void Conversion::python_code_done() noexcept {
  if (environment_ != nullptr) environment_->enforce();
}

struct Conversion::Labels {
  std::array<Labelled, kLabelled> labelled{};
  std::size_t labelled_count = 0;
  std::array<LabelMismatch, kMismatches> mismatches{};
  std::size_t mismatch_count = 0;
};

void Conversion::LabelsDeleter::operator()(Labels* labels) const noexcept { delete labels; }

Conversion::Labels& Conversion::labels() {
  if (!labels_) labels_.reset(new Labels());
  return *labels_;
}

void Conversion::labelled_vector(PyObject* series) {
  Labels& record = labels();
  if (record.labelled_count == kLabelled) return;
  record.labelled[record.labelled_count++] = {parameter_, Ref::borrow(series)};
}

std::span<const Conversion::Labelled> Conversion::labelled_vectors() const noexcept {
  if (!labels_) return {};
  return {labels_->labelled.data(), labels_->labelled_count};
}

void Conversion::label_mismatch(LabelMismatch mismatch) {
  Labels& record = labels();
  if (record.mismatch_count == kMismatches) return;
  record.mismatches[record.mismatch_count++] = std::move(mismatch);
}

std::span<const LabelMismatch> Conversion::mismatches() const noexcept {
  if (!labels_) return {};
  return {labels_->mismatches.data(), labels_->mismatch_count};
}

void VectorArg::read_in_place(VectorView data, Conversion& conversion) noexcept {
  view_ = data;
  conversion.reading_in_place(*this);
}

void VectorArg::detach() {
  if (!buffer_.held()) return;
  owned_.assign(view_.begin(), view_.end());
  own();
  buffer_.release();
}

void MatrixArg::own(std::size_t rows, std::size_t cols, bool ragged) noexcept {
  view_ = MatrixView::dense(ragged ? nullptr : owned_.data(), rows, cols);
  view_.ragged = ragged;
}

void MatrixArg::read_in_place(const MatrixView& data, Conversion& conversion) noexcept {
  view_ = data;
  conversion.reading_in_place(*this);
}

void MatrixArg::detach() {
  if (!buffer_.held()) return;
  const MatrixView source = view_;
  owned_.resize(source.rows * source.cols);
  for (std::size_t i = 0; i < source.rows; ++i) {
    for (std::size_t j = 0; j < source.cols; ++j) owned_[i * source.cols + j] = source(i, j);
  }
  own(source.rows, source.cols, false);
  buffer_.release();
}

}  // namespace quorvel::py
