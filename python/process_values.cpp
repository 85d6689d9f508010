#include "process_values.hpp"

#include <atomic>
#include <mutex>
#include <new>

#include "example_type.hpp"

#if defined(__unix__) || defined(__APPLE__)
#define QUORVEL_POSIX 1
#include <pthread.h>
#include <unistd.h>
#else
#define QUORVEL_POSIX 0
#endif
#if defined(__linux__)
#include <sys/syscall.h>
#elif defined(__FreeBSD__) || defined(__OpenBSD__) || defined(__DragonFly__)
#include <pthread_np.h>
#endif

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
  Ref equals = Ref::steal(PyUnicode_InternFromString("equals"));
  if (!all || !name || !module || !bool_ || !add_note || !to_numpy || !values || !dtype ||
      !dtypes || !kind || !tolist || !index || !columns || !array || !start || !step ||
      !equals) {
    return nullptr;
  }
  g_names_storage = {all.release(),    name.release(),     module.release(), bool_.release(),
                     add_note.release(), to_numpy.release(), values.release(), dtype.release(),
                     dtypes.release(), kind.release(),   tolist.release(), index.release(),
                     columns.release(), array.release(), start.release(), step.release(),
                     equals.release()};
  return &g_names_storage;
}

PyObject* make_sequence() noexcept {
  Ref abc = Ref::steal(PyImport_ImportModule("collections.abc"));
  if (!abc) return nullptr;
  return PyObject_GetAttrString(abc.get(), "Sequence");
}

#if QUORVEL_POSIX
/// In a child forked from another thread, the forking thread is the main one.
void forget_main_thread() noexcept { g_main_thread.store(nullptr, std::memory_order_release); }
#endif

const unsigned long* find_main_thread() noexcept {
#if QUORVEL_POSIX
  static const bool forgotten_at_fork = pthread_atfork(nullptr, nullptr, forget_main_thread) == 0;
  (void)forgotten_at_fork;
#endif
  Ref ident;
  Ref thread_module = Ref::steal(PyImport_ImportModule("_thread"));
  if (!thread_module) return nullptr;
  if (PyObject_HasAttrString(thread_module.get(), "_get_main_thread_ident")) {
    ident = Ref::steal(PyObject_CallMethod(thread_module.get(), "_get_main_thread_ident", nullptr));
  } else {
    Ref threading = Ref::steal(PyImport_ImportModule("threading"));
    Ref thread = threading ? Ref::steal(PyObject_CallMethod(threading.get(), "main_thread", nullptr))
                           : Ref();
    ident = thread ? Ref::steal(PyObject_GetAttrString(thread.get(), "ident")) : Ref();
  }
  if (!ident) return nullptr;
  g_main_thread_storage = PyLong_AsUnsignedLong(ident.get());
  if (PyErr_Occurred()) return nullptr;
  return &g_main_thread_storage;
}

#if defined(__linux__)
/// This thread's answer once known: -1 not yet, else 0 or 1. A forked child
/// asks again, since the thread that forked is its main thread.
thread_local signed char t_main_thread = -1;
void forget_thread_answer() noexcept { t_main_thread = -1; }
#endif

}  // namespace

int main_thread_by_system() noexcept {
#if defined(__linux__)
  if (t_main_thread < 0) {
    // The main thread's thread ID is the process ID.
    const bool main = static_cast<pid_t>(syscall(SYS_gettid)) == getpid();
    static const bool forgotten_at_fork = pthread_atfork(nullptr, nullptr, forget_thread_answer) == 0;
    if (!forgotten_at_fork) return main ? 1 : 0;  // never cached then
    t_main_thread = main ? 1 : 0;
  }
  return t_main_thread;
#elif defined(__APPLE__) || defined(__FreeBSD__) || defined(__OpenBSD__) || defined(__DragonFly__)
  return pthread_main_np() == 1 ? 1 : 0;
#else
  return -1;
#endif
}

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
