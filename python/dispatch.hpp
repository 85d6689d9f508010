// The one shape of every callable in the function tables: bind the call's
// arguments, convert them, run the routine (with the interpreter lock
// released when the work is long), turn the outcome into a Python object,
// all inside the exception barrier and the floating-point state that the
// results are defined under.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "binding.hpp"
#include "converters.hpp"
#include "errors.hpp"
#include "float_environment.hpp"
#include "long_calls.hpp"
#include "ref.hpp"
#include "results.hpp"
#include "warnings.hpp"

namespace quorvel::py {

template <class Row, class... Says>
struct Described;

/// A row of a function table: the Python name, the parameter names, one
/// caster per parameter, the routine and how its work grows. The result's
/// Python shape follows from the routine's return type (results.hpp); what
/// the library says about a result, from the warnings the row lists with
/// says() (warnings.hpp).
template <auto Routine, Cost C, class... Casters>
struct Function {
  std::string_view name;
  std::array<std::string_view, sizeof...(Casters)> parameters;

  /// This row with the warnings its results can give, one entry each.
  template <class... Says>
  [[nodiscard]] constexpr Described<Function, Says...> says(Says... warnings) const {
    return {*this, std::tuple<Says...>(warnings...)};
  }
};

/// A row and its warnings.
template <class Row, class... Says>
struct Described : Row {
  std::tuple<Says...> warnings;
};

namespace detail {

template <auto Routine, Cost C, class... Casters>
std::tuple<> warnings_of(const Function<Routine, C, Casters...>&) noexcept {
  return {};
}
template <class Row, class... Says>
const std::tuple<Says...>& warnings_of(const Described<Row, Says...>& row) noexcept {
  return row.warnings;
}

/// The index of the one parameter whose caster is `Kind`, or the number of
/// parameters when there is none, or more than one.
template <class Kind, class... Casters>
constexpr std::size_t only_parameter() {
  constexpr std::array<bool, sizeof...(Casters)> is{std::is_same_v<Casters, Kind>...};
  std::size_t found = is.size();
  std::size_t count = 0;
  for (std::size_t i = 0; i < is.size(); ++i) {
    if (is[i]) {
      found = i;
      ++count;
    }
  }
  return count == 1 ? found : is.size();
}

/// Whether a row with these casters has every argument that the warning
/// kind W names: exactly one vector, exactly one matrix.
template <class W, class... Casters>
constexpr bool can_name() {
  constexpr std::size_t n = sizeof...(Casters);
  return (!(W::kNames & kNamesVector) || only_parameter<Vector, Casters...>() < n) &&
         (!(W::kNames & kNamesMatrix) || only_parameter<Matrix, Casters...>() < n);
}

template <std::size_t I, std::size_t N>
constexpr std::string_view name_at(const std::array<std::string_view, N>& parameters) {
  if constexpr (I < N) {
    return parameters[I];
  } else {
    return {};
  }
}

}  // namespace detail

/// A call's converted arguments as warnings read them: the call's one
/// vector and one matrix (a warning that reads one is only accepted in rows
/// that have exactly one, as for naming them), and what the reader found
/// while converting them.
template <class... Casters>
struct Arguments {
  const std::tuple<typename Casters::holder...>& values;
  const Conversion& conversion;

  static constexpr std::size_t kVector = detail::only_parameter<Vector, Casters...>();
  static constexpr std::size_t kMatrix = detail::only_parameter<Matrix, Casters...>();

  [[nodiscard]] const VectorArg& vector() const noexcept { return std::get<kVector>(values); }
  [[nodiscard]] const MatrixArg& matrix() const noexcept { return std::get<kMatrix>(values); }

  /// The labels of the matrix's own index and columns that differ, or null.
  [[nodiscard]] const LabelMismatch* matrix_labels() const noexcept {
    return mismatch(kMatrix, LabelAxis::Rows, kMatrix, LabelAxis::Columns);
  }
  /// The labels of the vector and of the matrix's columns that differ, or
  /// null.
  [[nodiscard]] const LabelMismatch* vector_labels() const noexcept {
    return mismatch(kVector, LabelAxis::Index, kMatrix, LabelAxis::Columns);
  }

 private:
  const LabelMismatch* mismatch(std::size_t first, LabelAxis first_axis, std::size_t second,
                                LabelAxis second_axis) const noexcept {
    for (const LabelMismatch& m : conversion.mismatches()) {
      if (m.first_parameter == first && m.first_axis == first_axis &&
          m.second_parameter == second && m.second_axis == second_axis) {
        return &m;
      }
    }
    return nullptr;
  }
};

namespace detail {

template <class T>
struct IsResult : std::false_type {};
template <class T>
struct IsResult<Result<T>> : std::true_type {};

/// "weights has 3 values", "covariance is 4 x 4": the size of a converted
/// argument, for the note on a shape mismatch; empty for a scalar.
inline std::string size_of(std::string_view name, const VectorArg& a) {
  const std::size_t n = a.view().size();
  return std::string(name) + " has " + std::to_string(n) + (n == 1 ? " value" : " values");
}
inline std::string size_of(std::string_view name, const MatrixArg& a) {
  const MatrixView& m = a.view();
  if (m.ragged) {
    return std::string(name) + " has " + std::to_string(m.rows) +
           " rows of unequal length, the first of " + std::to_string(m.cols) +
           (m.cols == 1 ? " value" : " values");
  }
  return std::string(name) + " is " + std::to_string(m.rows) + " x " + std::to_string(m.cols);
}
template <class T>
std::string size_of(std::string_view, const T&) {
  return {};
}

/// Adds to the pending exception a note with the size of every vector and
/// matrix argument: "weights has 3 values; covariance is 4 x 4".
template <class... Holders, std::size_t... I>
void note_sizes(const std::tuple<Holders...>& values,
                const std::array<std::string_view, sizeof...(Holders)>& parameters,
                std::index_sequence<I...>) {
  std::string note;
  auto add = [&](std::string part) {
    if (part.empty()) return;
    if (!note.empty()) note += "; ";
    note += part;
  };
  (add(size_of(parameters[I], std::get<I>(values))), ...);
  add_note(note);
}

/// Issues warning `w` when it fires for this result, in the call's
/// floating-point state: Python code run by an earlier warning (a filter, a
/// showwarning hook, a signal handler) may have changed it, and both the
/// test (a comparison with a NaN would spring an unmasked trap) and the text
/// (which formats numbers) compute. `warned` says whether one was issued;
/// the state is set before the first test by the caller.
template <class W, class Out, class Args>
bool say_if(const W& w, const Out& out, const Args& args, const CallSite& site,
            FloatEnvironment& environment, bool& warned) {
  if (warned) environment.enforce();
  if (!w.fires(out, args)) return true;
  environment.enforce();
  warned = true;
  return w.say(out, args, site);
}

/// The result as a new object, after the row's warnings about it; null when
/// a warning was turned into an exception (the object is then released).
template <class Out, class... Says, class Args>
PyObject* deliver(const Out& out, const std::tuple<Says...>& says, const Args& args,
                  const CallSite& site, FloatEnvironment& environment) {
  Ref object = to_python(out);
  if (!object) return nullptr;
  // Allocating the result may run a collection, and with it Python code
  // (gc callbacks, finalizers), before the warnings' tests compute.
  if constexpr (sizeof...(Says) > 0) environment.enforce();
  bool warned = false;
  const bool said = std::apply(
      [&](const Says&... w) { return (say_if(w, out, args, site, environment, warned) && ...); },
      says);
  return said ? object.release() : nullptr;
}

template <class R, class Says, class... Casters, std::size_t N>
PyObject* finish(R&& outcome, const Says& says, const Arguments<Casters...>& args,
                 const std::array<std::string_view, N>& parameters, const CallSite& site,
                 FloatEnvironment& environment) {
  using Plain = std::remove_cvref_t<R>;
  if constexpr (std::is_same_v<Plain, Ref>) {
    return outcome.release();
  } else if constexpr (IsResult<Plain>::value) {
    if (!outcome) {
      raise_core_error(outcome.error());
      if (is_shape_mismatch(outcome.error())) {
        note_sizes(args.values, parameters, std::make_index_sequence<N>{});
      }
      return nullptr;
    }
    return deliver(*outcome, says, args, site, environment);
  } else {
    return deliver(outcome, says, args, site, environment);
  }
}

/// Converts the bound slots in parameter order; the first failure gets the
/// parameter's note and stops the conversion.
template <class... Casters, std::size_t... I>
bool convert_all(PyObject* const* slots, std::tuple<typename Casters::holder...>& values,
                 const std::array<std::string_view, sizeof...(Casters)>& parameters,
                 Conversion& conversion, std::index_sequence<I...>) {
  auto one = [&]<std::size_t J, class C>() {
    conversion.at_parameter(J);
    if (C::extract(slots[J], std::get<J>(values), conversion)) return true;
    add_argument_note(parameters[J]);
    return false;
  };
  return (one.template operator()<I, Casters>() && ...);
}

/// The routine, handed the interrupt when it takes one (the long ones do).
template <auto Routine, class... Args>
auto invoke(Interrupt& interrupt, Args&&... args) {
  if constexpr (std::is_invocable_v<decltype(Routine), Args..., Interrupt&>) {
    return std::invoke(Routine, std::forward<Args>(args)..., interrupt);
  } else {
    return std::invoke(Routine, std::forward<Args>(args)...);
  }
}

template <auto Routine, Cost C, class... Casters, class Says>
PyObject* call(const Function<Routine, C, Casters...>& row, const Says& says,
               PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  FloatEnvironment environment;
  constexpr std::size_t kArity = sizeof...(Casters);
  const SignatureDescriptor descriptor{row.name, {}, row.parameters};
  std::array<PyObject*, kArity> slots{};
  if (!bind_arguments(descriptor, args, nargs, kwnames, slots.data())) return nullptr;
  // The converted arguments stay where they are until the call returns: the
  // views handed to the routine point into them.
  std::tuple<typename Casters::holder...> values{};
  // The cleanup list has one slot per argument that can be read in place,
  // counted from the row at compile time: registering cannot run out.
  static_assert(kInPlaceArguments<Casters...> ==
                    (std::size_t{0} + ... + std::is_base_of_v<InPlace, typename Casters::holder>),
                "a holder that can read in place must say so (kInPlace)");
  std::array<InPlace*, kInPlaceArguments<Casters...>> in_place{};
  Conversion conversion(in_place.data(), in_place.size(), &environment);
  if (!convert_all<Casters...>(slots.data(), values, row.parameters, conversion,
                               std::make_index_sequence<kArity>{})) {
    return nullptr;
  }
  SignalWatch watch(environment);
  const bool heavy = C != Cost::KeepsLock && work<C>(values) >= kReleaseWork;
  if (heavy && !watch.start(conversion)) return nullptr;
  if (conversion.ran_python_code()) environment.enforce();  // that code may have changed it
  Interrupt interrupt = watch.interrupt();
  auto run = [&] {
    return std::apply(
        [&](const auto&... v) { return invoke<Routine>(interrupt, Casters::pass(v)...); }, values);
  };
  auto run_unlocked = [&] {
    LockReleased unlocked(watch);
    return run();
  };
  const CallSite site{row.name,
                      name_at<only_parameter<Vector, Casters...>()>(row.parameters),
                      name_at<only_parameter<Matrix, Casters...>()>(row.parameters)};
  const Arguments<Casters...> arguments{values, conversion};
  if constexpr (C == Cost::KeepsLock) {
    return finish(run(), says, arguments, row.parameters, site, environment);
  } else {
    auto outcome = heavy ? run_unlocked() : run();
    return finish(std::move(outcome), says, arguments, row.parameters, site, environment);
  }
}

/// A row with its warnings, every one of which must find the arguments it
/// names in the row.
template <class Row, class... Says, class... Rest>
PyObject* call_row(const Row& row, const std::tuple<Says...>& says, Rest... rest) {
  return [&]<auto Routine, Cost C, class... Casters>(const Function<Routine, C, Casters...>& base) {
    static_assert((can_name<Says, Casters...>() && ...),
                  "a warning names a vector or a matrix argument the row does not have exactly "
                  "one of");
    return call(base, says, rest...);
  }(row);
}

/// The entry point of row I of `Table`, as Python calls it.
template <const auto& Table, std::size_t I>
PyObject* entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames) noexcept {
  const auto& row = std::get<I>(Table);
  return barrier<PyObject*>(nullptr,
                            [&] { return call_row(row, warnings_of(row), args, nargs, kwnames); });
}

}  // namespace detail

/// The method records of a function table, with their text signatures,
/// built once and kept for the life of the process (the function objects
/// point into them). `defs` ends with a null record.
template <const auto& Table>
class MethodRecords {
 public:
  static constexpr std::size_t kCount = std::tuple_size_v<std::remove_cvref_t<decltype(Table)>>;

  static MethodRecords& get() {
    static MethodRecords* records = new MethodRecords();  // never freed
    return *records;
  }

  [[nodiscard]] const PyMethodDef* begin() const noexcept { return defs_.data(); }
  [[nodiscard]] const PyMethodDef* end() const noexcept { return defs_.data() + kCount; }
  /// The records, null-terminated, for PyModule_AddFunctions.
  [[nodiscard]] PyMethodDef* terminated() noexcept { return defs_.data(); }

 private:
  using FastCallWithKeywords = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

  MethodRecords() { fill(std::make_index_sequence<kCount>{}); }

  template <std::size_t... I>
  void fill(std::index_sequence<I...>) {
    (fill_one<I>(), ...);
    defs_[kCount] = PyMethodDef{nullptr, nullptr, 0, nullptr};
  }

  template <std::size_t I>
  void fill_one() {
    const auto& row = std::get<I>(Table);
    std::string& doc = docs_[I];
    doc.append(row.name).push_back('(');
    for (std::size_t p = 0; p < row.parameters.size(); ++p) {
      if (p > 0) doc.append(", ");
      doc.append(row.parameters[p]);
    }
    doc.append(")\n--\n\n");
    FastCallWithKeywords fn = &detail::entry<Table, I>;
    // The name views point at string literals, which are NUL-terminated.
    defs_[I] = PyMethodDef{row.name.data(),
                           reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn)),
                           METH_FASTCALL | METH_KEYWORDS, doc.c_str()};
  }

  std::array<std::string, kCount> docs_;
  std::array<PyMethodDef, kCount + 1> defs_;
};

}  // namespace quorvel::py
