#include "process_values.hpp"

#include <atomic>
#include <mutex>
#include <new>

#include "example_type.hpp"

namespace quorvel::py {
namespace {

/// Runs `make` once per process, the first time it succeeds. A thread that
/// finds another one initialising waits for it with the interpreter lock
/// released: the initialiser may run Python code (an import) that needs the
/// lock, and every waiter lets go of it before taking the mutex, so the two
/// locks are never held in opposite orders.
template <class T, class Make>
T* initialise_once(std::atomic<T*>& slot, std::mutex& mutex, Make make) noexcept {
  if (T* ready = slot.load(std::memory_order_acquire)) return ready;
  PyThreadState* state = PyEval_SaveThread();
  mutex.lock();
  PyEval_RestoreThread(state);
  T* value = slot.load(std::memory_order_acquire);
  if (value == nullptr) {
    value = make();
    if (value != nullptr) slot.store(value, std::memory_order_release);
  }
  mutex.unlock();
  return value;
}

std::atomic<const InternedNames*> g_names{nullptr};
std::mutex g_names_mutex;
InternedNames g_names_storage{};

std::atomic<PyObject*> g_sequence{nullptr};
std::mutex g_sequence_mutex;

std::atomic<PyTypeObject*> g_example{nullptr};
std::mutex g_example_mutex;

std::atomic<const unsigned long*> g_main_thread{nullptr};
std::mutex g_main_thread_mutex;
unsigned long g_main_thread_storage = 0;

const InternedNames* make_names() noexcept {
  Ref all = Ref::steal(PyUnicode_InternFromString("__all__"));
  Ref name = Ref::steal(PyUnicode_InternFromString("__name__"));
  Ref module = Ref::steal(PyUnicode_InternFromString("__module__"));
  Ref bool_ = Ref::steal(PyUnicode_InternFromString("__bool__"));
  Ref add_note = Ref::steal(PyUnicode_InternFromString("add_note"));
  Ref to_numpy = Ref::steal(PyUnicode_InternFromString("to_numpy"));
  Ref values = Ref::steal(PyUnicode_InternFromString("values"));
  Ref dtype = Ref::steal(PyUnicode_InternFromString("dtype"));
  Ref dtypes = Ref::steal(PyUnicode_InternFromString("dtypes"));
  Ref kind = Ref::steal(PyUnicode_InternFromString("kind"));
  Ref tolist = Ref::steal(PyUnicode_InternFromString("tolist"));
  Ref index = Ref::steal(PyUnicode_InternFromString("index"));
  Ref columns = Ref::steal(PyUnicode_InternFromString("columns"));
  Ref array = Ref::steal(PyUnicode_InternFromString("array"));
  Ref start = Ref::steal(PyUnicode_InternFromString("start"));
  Ref step = Ref::steal(PyUnicode_InternFromString("step"));
  if (!all || !name || !module || !bool_ || !add_note || !to_numpy || !values || !dtype ||
      !dtypes || !kind || !tolist || !index || !columns || !array || !start || !step) {
    return nullptr;
  }
  g_names_storage = {all.release(),    name.release(),     module.release(), bool_.release(),
                     add_note.release(), to_numpy.release(), values.release(), dtype.release(),
                     dtypes.release(), kind.release(),   tolist.release(), index.release(),
                     columns.release(), array.release(), start.release(), step.release()};
  return &g_names_storage;
}

PyObject* make_sequence() noexcept {
  Ref abc = Ref::steal(PyImport_ImportModule("collections.abc"));
  if (!abc) return nullptr;
  return PyObject_GetAttrString(abc.get(), "Sequence");
}

const unsigned long* find_main_thread() noexcept {
  Ref threading = Ref::steal(PyImport_ImportModule("threading"));
  Ref thread = threading ? Ref::steal(PyObject_CallMethod(threading.get(), "main_thread", nullptr))
                         : Ref();
  Ref ident = thread ? Ref::steal(PyObject_GetAttrString(thread.get(), "ident")) : Ref();
  if (!ident) return nullptr;
  g_main_thread_storage = PyLong_AsUnsignedLong(ident.get());
  if (PyErr_Occurred()) return nullptr;
  return &g_main_thread_storage;
}

}  // namespace

const unsigned long* main_thread_ident() noexcept {
  return initialise_once(g_main_thread, g_main_thread_mutex, find_main_thread);
}

const unsigned long* main_thread_ident_if_known() noexcept {
  return g_main_thread.load(std::memory_order_acquire);
}

const InternedNames* interned_names() noexcept {
  return initialise_once(g_names, g_names_mutex, make_names);
}

PyObject* sequence_class() noexcept {
  return initialise_once(g_sequence, g_sequence_mutex, make_sequence);
}

PyTypeObject* example_type() noexcept {
  return initialise_once(g_example, g_example_mutex, create_example_type);
}

}  // namespace quorvel::py
