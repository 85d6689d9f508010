// The quorvel extension module: its definition, the function table, and the
// one wrapper shape that every function shares.
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "attribution.hpp"
#include "basics.hpp"
#include "binding.hpp"
#include "converters.hpp"
#include "private.hpp"
#include "process_values.hpp"
#include "ref.hpp"
#include "results.hpp"
#include "risk.hpp"
#include "weighting.hpp"

namespace quorvel::py {
namespace {

// ---------------------------------------------------------------------------
// Converters, one per native parameter type.

template <class T, bool (*Extract)(PyObject*, T&)>
struct Converter {
  using type = T;
  static bool extract(PyObject* object, T& out) { return Extract(object, out); }
};

using Vector = Converter<FloatVector, extract_float_vector>;
using Matrix = Converter<FloatMatrix, extract_float_matrix>;
using Count = Converter<std::uint64_t, extract_count>;
using Float = Converter<double, extract_float>;
using Flag = Converter<bool, extract_flag>;

// ---------------------------------------------------------------------------
// A row of the function table: the Python name, the parameter names, one
// converter per parameter and the core routine. The result shape follows
// from the routine's return type (see results.hpp).

template <auto Routine, class... Converters>
struct Function {
  static_assert(std::is_invocable_v<decltype(Routine), typename Converters::type&&...>,
                "converters must produce the routine's parameters");
  std::string_view name;
  std::array<std::string_view, sizeof...(Converters)> parameters;
};

constexpr auto kFunctions = std::make_tuple(
    Function<&equal_weights, Count>{"equal_weights", {"count"}},
    Function<&rank_weights, Vector, Flag>{"rank_weights", {"values", "ascending"}},
    Function<&signal_proportional_weights, Vector>{"signal_proportional_weights", {"values"}},
    Function<&target_volatility_weights, Vector>{"target_volatility_weights", {"volatility"}},
    Function<&minimum_variance_weights, Matrix>{"minimum_variance_weights", {"covariance"}},
    Function<&mean_variance_weights, Vector, Matrix, Float>{
        "mean_variance_weights", {"expected_returns", "covariance", "risk_aversion"}},
    Function<&risk_parity_weights, Matrix, Count, Float>{
        "risk_parity_weights", {"covariance", "max_iter", "tolerance"}},
    Function<&hierarchical_risk_parity_weights, Matrix>{"hierarchical_risk_parity_weights",
                                                         {"covariance"}},
    Function<&portfolio_variance, Vector, Matrix>{"portfolio_variance", {"weights", "covariance"}},
    Function<&portfolio_volatility, Vector, Matrix>{"portfolio_volatility",
                                                    {"weights", "covariance"}},
    Function<&risk_contribution, Vector, Matrix>{"risk_contribution", {"weights", "covariance"}},
    Function<&tracking_error, Vector, Matrix>{"tracking_error", {"active_weights", "covariance"}},
    Function<&active_share, Vector>{"active_share", {"active_weights"}},
    Function<&brinson_attribution, Vector, Vector, Vector, Vector>{
        "brinson_attribution",
        {"portfolio_weights", "benchmark_weights", "portfolio_returns", "benchmark_returns"}},
    Function<&factor_return_decomposition, Vector, Vector>{"factor_return_decomposition",
                                                           {"exposures", "factor_returns"}});

constexpr std::size_t kFunctionCount = std::tuple_size_v<decltype(kFunctions)>;

// ---------------------------------------------------------------------------
// The wrapper.

template <class T>
struct IsResult : std::false_type {};
template <class T>
struct IsResult<Result<T>> : std::true_type {};

/// A core error becomes ValueError carrying exactly the error's message.
PyObject* raise_core_error(CoreError error) noexcept {
  const std::string_view text = message(error);
  Ref value = Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  if (value) PyErr_SetObject(PyExc_ValueError, value.get());
  return nullptr;
}

template <class R>
PyObject* finish(R&& outcome) noexcept {
  if constexpr (IsResult<std::remove_cvref_t<R>>::value) {
    if (!outcome) return raise_core_error(outcome.error());
    return to_python(*outcome).release();
  } else {
    return to_python(outcome).release();
  }
}

/// Converts the bound slots in parameter order; the first failure gets the
/// parameter's note and stops the conversion.
template <class... Converters, std::size_t... I>
bool convert_all(PyObject* const* slots, std::tuple<typename Converters::type...>& values,
                 const std::array<std::string_view, sizeof...(Converters)>& parameters,
                 std::index_sequence<I...>) {
  auto one = [&]<std::size_t J, class C>() {
    if (C::extract(slots[J], std::get<J>(values))) return true;
    add_argument_note(parameters[J]);
    return false;
  };
  return (one.template operator()<I, Converters>() && ...);
}

template <auto Routine, class... Converters>
PyObject* call(const Function<Routine, Converters...>& row, PyObject* const* args,
               Py_ssize_t nargs, PyObject* kwnames) {
  constexpr std::size_t kArity = sizeof...(Converters);
  const SignatureDescriptor descriptor{row.name, {}, row.parameters};
  std::array<PyObject*, kArity> slots{};
  if (!bind_arguments(descriptor, args, nargs, kwnames, slots.data())) return nullptr;
  std::tuple<typename Converters::type...> values{};
  if (!convert_all<Converters...>(slots.data(), values, row.parameters,
                                  std::make_index_sequence<kArity>{})) {
    return nullptr;
  }
  return finish(std::apply(
      [](auto&&... v) { return std::invoke(Routine, std::move(v)...); }, std::move(values)));
}

/// The entry point of function I. Nothing thrown inside may reach the
/// interpreter: refused allocations become MemoryError.
template <std::size_t I>
PyObject* wrapper(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* kwnames) noexcept {
  try {
    return call(std::get<I>(kFunctions), args, nargs, kwnames);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::length_error&) {
    return PyErr_NoMemory();  // a size beyond what a vector can hold
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "quorvel: unexpected internal exception");
    return nullptr;
  }
}

using FastCallWithKeywords = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

/// Method records and their text signatures, built once and kept for the
/// life of the process: the function objects point into them.
struct MethodRecords {
  std::array<std::string, kFunctionCount> docs;
  std::array<PyMethodDef, kFunctionCount> defs;

  MethodRecords() { fill(std::make_index_sequence<kFunctionCount>{}); }

  template <std::size_t... I>
  void fill(std::index_sequence<I...>) {
    (fill_one<I>(), ...);
  }

  template <std::size_t I>
  void fill_one() {
    const auto& row = std::get<I>(kFunctions);
    std::string& doc = docs[I];
    doc.append(row.name).push_back('(');
    for (std::size_t p = 0; p < row.parameters.size(); ++p) {
      if (p > 0) doc.append(", ");
      doc.append(row.parameters[p]);
    }
    doc.append(")\n--\n\n");
    FastCallWithKeywords fn = &wrapper<I>;
    // The name views point at string literals, which are NUL-terminated.
    defs[I] = PyMethodDef{row.name.data(), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn)),
                          METH_FASTCALL | METH_KEYWORDS, doc.c_str()};
  }
};

const MethodRecords& method_records() {
  static const MethodRecords* records = new MethodRecords();  // never freed
  return *records;
}

// ---------------------------------------------------------------------------
// Module execution.

/// Appends `name` to the module's __all__ (creating the list if absent) and
/// sets the attribute. False with a Python exception set on failure.
bool module_add(PyObject* module, PyObject* name, PyObject* value, const InternedNames& names) {
  Ref all = Ref::steal(PyObject_GetAttr(module, names.all));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttr(module, names.all, all.get()) < 0) return false;
  } else if (!PyList_Check(all.get())) {
    return cast_error(all.get(), reinterpret_cast<PyObject*>(&PyList_Type));
  }
  if (PyList_Append(all.get(), name) < 0) return false;
  return PyObject_SetAttr(module, name, value) == 0;
}

int exec_module_impl(PyObject* module) {
  if (!PyModule_Check(module)) {
    cast_error(module, reinterpret_cast<PyObject*>(&PyModule_Type));
    return -1;
  }
  const InternedNames* names = interned_names();
  if (names == nullptr) return -1;

  PyTypeObject* example = example_type();
  if (example == nullptr) return -1;
  Ref example_name = Ref::steal(PyUnicode_FromString("Example"));
  if (!example_name ||
      !module_add(module, example_name.get(), reinterpret_cast<PyObject*>(example), *names)) {
    return -1;
  }

  for (const PyMethodDef& record : method_records().defs) {
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    Ref function = Ref::steal(
        PyCMethod_New(const_cast<PyMethodDef*>(&record), module, module_name.get(), nullptr));
    if (!function) return -1;
    module_name = Ref();
    Ref function_name = Ref::steal(PyObject_GetAttr(function.get(), names->name));
    if (!function_name) return -1;
    if (!PyUnicode_Check(function_name.get())) {
      cast_error(function_name.get(), reinterpret_cast<PyObject*>(&PyUnicode_Type));
      return -1;
    }
    if (!module_add(module, function_name.get(), function.get(), *names)) return -1;
  }
  return add_private_members(module) ? 0 : -1;
}

int exec_module(PyObject* module) noexcept {
  try {
    return exec_module_impl(module);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return -1;
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "quorvel: unexpected internal exception");
    return -1;
  }
}

PyModuleDef_Slot kModuleSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "quorvel",  // m_name
    "",         // m_doc: present and empty
    0,          // m_size: no per-module state
    nullptr,    // m_methods: functions are added by exec_module
    kModuleSlots,
    nullptr,  // m_traverse
    nullptr,  // m_clear
    nullptr,  // m_free
};

}  // namespace
}  // namespace quorvel::py

PyMODINIT_FUNC PyInit_quorvel(void) { return PyModuleDef_Init(&quorvel::py::kModuleDef); }
