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

namespace quorvel::py {

/// A row of a function table: the Python name, the parameter names, one
/// caster per parameter, the routine and how its work grows. The result's
/// Python shape follows from the routine's return type (results.hpp).
template <auto Routine, Cost C, class... Casters>
struct Function {
  std::string_view name;
  std::array<std::string_view, sizeof...(Casters)> parameters;
};

namespace detail {

template <class T>
struct IsResult : std::false_type {};
template <class T>
struct IsResult<Result<T>> : std::true_type {};

template <class R>
PyObject* finish(R&& outcome, const CallSite& site) {
  using Plain = std::remove_cvref_t<R>;
  if constexpr (std::is_same_v<Plain, Ref>) {
    return outcome.release();
  } else if constexpr (IsResult<Plain>::value) {
    if (!outcome) {
      raise_core_error(outcome.error());
      return nullptr;
    }
    return to_python(*outcome, site).release();
  } else {
    return to_python(outcome, site).release();
  }
}

/// Converts the bound slots in parameter order; the first failure gets the
/// parameter's note and stops the conversion.
template <class... Casters, std::size_t... I>
bool convert_all(PyObject* const* slots, std::tuple<typename Casters::holder...>& values,
                 const std::array<std::string_view, sizeof...(Casters)>& parameters,
                 Conversion& conversion, std::index_sequence<I...>) {
  auto one = [&]<std::size_t J, class C>() {
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

template <auto Routine, Cost C, class... Casters>
PyObject* call(const Function<Routine, C, Casters...>& row, PyObject* const* args,
               Py_ssize_t nargs, PyObject* kwnames) {
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
  Conversion conversion(in_place.data(), in_place.size());
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
  if constexpr (C == Cost::KeepsLock) {
    return finish(run(), CallSite{row.name, row.parameters});
  } else {
    auto outcome = heavy ? run_unlocked() : run();
    return finish(std::move(outcome), CallSite{row.name, row.parameters});
  }
}

/// The entry point of row I of `Table`, as Python calls it.
template <const auto& Table, std::size_t I>
PyObject* entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames) noexcept {
  return barrier<PyObject*>(nullptr, [&] { return call(std::get<I>(Table), args, nargs, kwnames); });
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
