// The quorvel extension module: its definition, the function table, and the
// one wrapper shape that every function shares.
#include <algorithm>
#include <array>
#include <chrono>
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
#include "interrupt.hpp"
#include "invariant.hpp"
#include "private.hpp"
#include "process_values.hpp"
#include "ref.hpp"
#include "results.hpp"
#include "risk.hpp"
#include "weighting.hpp"

namespace quorvel::py {
namespace {

// ---------------------------------------------------------------------------
// Converters, one per native parameter type: what a converted argument is
// held in during the call, how it is filled, and what the core routine is
// handed (a view of it, or its value).

struct Vector {
  using holder = VectorArg;
  static bool extract(PyObject* o, VectorArg& out, Conversion& c) {
    return extract_float_vector(o, out, c);
  }
  static VectorView pass(const VectorArg& a) noexcept { return a.view(); }
};

struct Matrix {
  using holder = MatrixArg;
  static bool extract(PyObject* o, MatrixArg& out, Conversion& c) {
    return extract_float_matrix(o, out, c);
  }
  static const MatrixView& pass(const MatrixArg& a) noexcept { return a.view(); }
};

template <class T, bool (*Extract)(PyObject*, T&, Conversion&)>
struct Scalar {
  using holder = T;
  static bool extract(PyObject* o, T& out, Conversion& c) { return Extract(o, out, c); }
  static T pass(const T& value) noexcept { return value; }
};

using Count = Scalar<std::uint64_t, extract_count>;
using Float = Scalar<double, extract_float>;
using Flag = Scalar<bool, extract_flag>;

// ---------------------------------------------------------------------------
// How much work a call does, in multiply-adds, judged from its converted
// arguments before it runs. Work beyond kReleaseWork runs with the
// interpreter lock released.

enum class Cost {
  Linear,  ///< one pass over the inputs
  Cubic,   ///< an inversion of the matrix
  Passes,  ///< up to `max_iter` passes over the matrix
};

/// About 20 to 60 microseconds of arithmetic: far more than releasing and
/// taking back the lock costs, far less than anyone would notice waiting.
constexpr double kReleaseWork = 65536.0;

inline double elements(const VectorArg& a) noexcept { return static_cast<double>(a.view().size()); }
inline double elements(const MatrixArg& a) noexcept {
  return static_cast<double>(a.view().rows) * static_cast<double>(a.view().cols);
}
template <class T>
double elements(const T&) noexcept {
  return 0.0;
}

template <Cost C, class... Holders>
double work(const std::tuple<Holders...>& values) noexcept {
  double linear = 0.0, rows = 0.0, passes = 1.0;
  std::apply(
      [&](const auto&... v) {
        ((linear += elements(v)), ...);
        auto note = [&](const auto& x) {
          using X = std::remove_cvref_t<decltype(x)>;
          if constexpr (std::is_same_v<X, MatrixArg>) rows = static_cast<double>(x.view().rows);
          if constexpr (std::is_same_v<X, std::uint64_t>) passes = std::max(1.0, static_cast<double>(x));
        };
        (note(v), ...);
      },
      values);
  if constexpr (C == Cost::Cubic) return rows * rows * rows;
  if constexpr (C == Cost::Passes) return linear * passes;
  return linear;
}

// ---------------------------------------------------------------------------
// A row of the function table: the Python name, the parameter names, one
// converter per parameter, the core routine and its cost. The result shape
// follows from the routine's return type (see results.hpp).

template <auto Routine, Cost C, class... Converters>
struct Function {
  std::string_view name;
  std::array<std::string_view, sizeof...(Converters)> parameters;
};

constexpr auto kFunctions = std::make_tuple(
    Function<&equal_weights, Cost::Linear, Count>{"equal_weights", {"count"}},
    Function<&rank_weights, Cost::Linear, Vector, Flag>{"rank_weights", {"values", "ascending"}},
    Function<&signal_proportional_weights, Cost::Linear, Vector>{"signal_proportional_weights",
                                                                  {"values"}},
    Function<&target_volatility_weights, Cost::Linear, Vector>{"target_volatility_weights",
                                                                {"volatility"}},
    Function<&minimum_variance_weights, Cost::Cubic, Matrix>{"minimum_variance_weights",
                                                             {"covariance"}},
    Function<&mean_variance_weights, Cost::Cubic, Vector, Matrix, Float>{
        "mean_variance_weights", {"expected_returns", "covariance", "risk_aversion"}},
    Function<&risk_parity_weights, Cost::Passes, Matrix, Count, Float>{
        "risk_parity_weights", {"covariance", "max_iter", "tolerance"}},
    Function<&hierarchical_risk_parity_weights, Cost::Linear, Matrix>{
        "hierarchical_risk_parity_weights", {"covariance"}},
    Function<&portfolio_variance, Cost::Linear, Vector, Matrix>{"portfolio_variance",
                                                                {"weights", "covariance"}},
    Function<&portfolio_volatility, Cost::Linear, Vector, Matrix>{"portfolio_volatility",
                                                                  {"weights", "covariance"}},
    Function<&risk_contribution, Cost::Linear, Vector, Matrix>{"risk_contribution",
                                                               {"weights", "covariance"}},
    Function<&tracking_error, Cost::Linear, Vector, Matrix>{"tracking_error",
                                                            {"active_weights", "covariance"}},
    Function<&active_share, Cost::Linear, Vector>{"active_share", {"active_weights"}},
    Function<&brinson_attribution, Cost::Linear, Vector, Vector, Vector, Vector>{
        "brinson_attribution",
        {"portfolio_weights", "benchmark_weights", "portfolio_returns", "benchmark_returns"}},
    Function<&factor_return_decomposition, Cost::Linear, Vector, Vector>{
        "factor_return_decomposition", {"exposures", "factor_returns"}});

constexpr std::size_t kFunctionCount = std::tuple_size_v<decltype(kFunctions)>;

// ---------------------------------------------------------------------------
// Signals during long work.

/// Lets a long computation notice Ctrl-C. The core reports its progress
/// about every kPollBudget multiply-adds (well under a millisecond); at most
/// every kSignalInterval the pending signals are then run. Only the main
/// thread runs signal handlers, so no other thread looks. With the lock
/// released, looking means taking it back for a moment, which can mean
/// waiting for another thread's turn to end: hence the spacing in time.
struct SignalWatch {
  bool main_thread = false;
  PyThreadState* released = nullptr;  ///< set while the lock is released
  std::chrono::steady_clock::time_point next{};
};

constexpr std::uint64_t kPollBudget = std::uint64_t{1} << 20;
constexpr auto kSignalInterval = std::chrono::milliseconds(10);

/// False, with the signal handler's exception set, to stop the computation.
bool poll_signals(void* context) noexcept {
  auto& watch = *static_cast<SignalWatch*>(context);
  if (!watch.main_thread) return true;
  const auto now = std::chrono::steady_clock::now();
  if (now < watch.next) return true;
  watch.next = now + kSignalInterval;
  if (watch.released == nullptr) return PyErr_CheckSignals() == 0;
  PyEval_RestoreThread(watch.released);
  const bool go_on = PyErr_CheckSignals() == 0;
  watch.released = PyEval_SaveThread();
  return go_on;
}

/// The interpreter lock released for the life of this object. Nothing in
/// its scope may touch a Python object; the arguments it reads are owned by
/// the call or held exported.
class LockReleased {
 public:
  explicit LockReleased(SignalWatch& watch) noexcept : watch_(watch) {
    watch_.released = PyEval_SaveThread();
  }
  ~LockReleased() {
    PyEval_RestoreThread(watch_.released);
    watch_.released = nullptr;
  }
  LockReleased(const LockReleased&) = delete;
  LockReleased& operator=(const LockReleased&) = delete;

 private:
  SignalWatch& watch_;
};

// ---------------------------------------------------------------------------
// The wrapper.

template <class T>
struct IsResult : std::false_type {};
template <class T>
struct IsResult<Result<T>> : std::true_type {};

/// A core error becomes ValueError carrying exactly the error's message. An
/// interrupted computation already has the signal handler's exception set.
PyObject* raise_core_error(CoreError error) noexcept {
  if (error == CoreError::Interrupted) {
    QUORVEL_INVARIANT(PyErr_Occurred() != nullptr, "interrupted without an exception");
    return nullptr;
  }
  const std::string_view text = message(error);
  Ref value = Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  if (value) PyErr_SetObject(PyExc_ValueError, value.get());
  return nullptr;
}

template <class R>
PyObject* finish(R&& outcome) {
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
bool convert_all(PyObject* const* slots, std::tuple<typename Converters::holder...>& values,
                 const std::array<std::string_view, sizeof...(Converters)>& parameters,
                 Conversion& conversion, std::index_sequence<I...>) {
  auto one = [&]<std::size_t J, class C>() {
    if (C::extract(slots[J], std::get<J>(values), conversion)) return true;
    add_argument_note(parameters[J]);
    return false;
  };
  return (one.template operator()<I, Converters>() && ...);
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

template <auto Routine, Cost C, class... Converters>
PyObject* call(const Function<Routine, C, Converters...>& row, PyObject* const* args,
               Py_ssize_t nargs, PyObject* kwnames) {
  constexpr std::size_t kArity = sizeof...(Converters);
  const SignatureDescriptor descriptor{row.name, {}, row.parameters};
  std::array<PyObject*, kArity> slots{};
  if (!bind_arguments(descriptor, args, nargs, kwnames, slots.data())) return nullptr;
  // The converted arguments stay where they are until the call returns: the
  // views handed to the routine point into them.
  std::tuple<typename Converters::holder...> values{};
  Conversion conversion;
  if (!convert_all<Converters...>(slots.data(), values, row.parameters, conversion,
                                  std::make_index_sequence<kArity>{})) {
    return nullptr;
  }
  SignalWatch watch;
  const bool heavy = work<C>(values) >= kReleaseWork;
  if (heavy) {
    const unsigned long* main_thread = main_thread_ident_if_known();
    if (main_thread == nullptr) {
      conversion.before_python_code();  // the first time, threading is imported
      main_thread = main_thread_ident();
      if (main_thread == nullptr) return nullptr;
    }
    watch.main_thread = PyThread_get_thread_ident() == *main_thread;
  }
  Interrupt interrupt(&poll_signals, &watch, kPollBudget);
  auto run = [&] {
    return std::apply(
        [&](const auto&... v) { return invoke<Routine>(interrupt, Converters::pass(v)...); },
        values);
  };
  auto run_unlocked = [&] {
    LockReleased unlocked(watch);
    return run();
  };
  auto outcome = heavy ? run_unlocked() : run();
  return finish(std::move(outcome));
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
  // The package version, from the one place it is written down; an
  // attribute of its own, not one of the names the module exports.
  Ref version = Ref::steal(PyUnicode_FromString(QUORVEL_VERSION));
  if (!version || PyObject_SetAttrString(module, "__version__", version.get()) < 0) return -1;
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
