#include "python_code.hpp"

#include <cstdint>

#include "errors.hpp"
#include "process_values.hpp"

namespace quorvel::py {

/// One trip through the gate: detach first (which may throw bad_alloc, before
/// anything has run), hold what the code works on, and put the call's
/// floating-point state back when the code has run.
class PythonCode::Passage {
 public:
  explicit Passage(Conversion& c, PyObject* held = nullptr) : c_(c) {
    c_.detach_all();
    hold_ = Ref::borrow(held);
  }
  ~Passage() {
    hold_ = Ref();  // dropping it may run a __del__: before the state is put back
    c_.python_code_done();
  }
  Passage(const Passage&) = delete;
  Passage& operator=(const Passage&) = delete;

 private:
  Conversion& c_;
  Ref hold_;
};

bool PythonCode::float_of(Conversion& c, PyObject* object, double& out) {
  double value = 0.0;
  {
    // The state is put back before the value is even compared: the code may
    // have unmasked a trap that a comparison with a subnormal would spring.
    Passage passage(c, object);
    value = PyFloat_AsDouble(object);
  }
  if (value == -1.0 && PyErr_Occurred()) return false;  // a genuine -1.0 is fine
  out = value;
  return true;
}

Ref PythonCode::index_of(Conversion& c, PyObject* object) {
  Passage passage(c, object);
  return Ref::steal(PyNumber_Index(object));
}

Ref PythonCode::class_attribute(Conversion& c, PyTypeObject* type, PyObject* name) {
  Passage passage(c, reinterpret_cast<PyObject*>(type));
  return Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), name));
}

Ref PythonCode::call_bound(Conversion& c, PyObject* method) {
  Passage passage(c, method);
  return Ref::steal(PyObject_CallNoArgs(method));
}

Ref PythonCode::bind(Conversion& c, PyObject* function, PyObject* instance) {
  auto get = reinterpret_cast<descrgetfunc>(PyType_GetSlot(Py_TYPE(function), Py_tp_descr_get));
  if (get == nullptr) return Ref::borrow(function);
  Passage passage(c, function);
  Ref hold_instance = Ref::borrow(instance);
  return Ref::steal(get(function, instance, reinterpret_cast<PyObject*>(Py_TYPE(instance))));
}

bool PythonCode::buffer_of(Conversion& c, PyObject* exporter, HeldBuffer& buffer, int flags) {
  Passage passage(c, exporter);
  return buffer.acquire(exporter, flags);
}

bool PythonCode::length_hint(Conversion& c, PyObject* object, Py_ssize_t& hint) {
  Passage passage(c, object);
  hint = PyObject_Size(object);
  if (hint >= 0) return true;
  if (!clear_if_ordinary()) return false;  // an interrupt goes on
  hint = 0;
  return true;
}

Ref PythonCode::iterator(Conversion& c, PyObject* object) {
  Passage passage(c, object);
  return Ref::steal(PyObject_GetIter(object));
}

Ref PythonCode::next(Conversion& c, PyObject* iterator) {
  Passage passage(c, iterator);
  return Ref::steal(PyIter_Next(iterator));
}

Ref PythonCode::attribute(Conversion& c, PyObject* object, PyObject* name) {
  Passage passage(c, object);
  return Ref::steal(PyObject_GetAttr(object, name));
}

Ref PythonCode::call_method(Conversion& c, PyObject* object, PyObject* name, PyObject* kwargs) {
  Passage passage(c, object);
  Ref method = Ref::steal(PyObject_GetAttr(object, name));
  if (!method) return method;
  Ref no_args = Ref::steal(PyTuple_New(0));
  if (!no_args) return no_args;
  return Ref::steal(PyObject_Call(method.get(), no_args.get(), kwargs));
}

Ref PythonCode::text_of(Conversion& c, PyObject* object) {
  Passage passage(c, object);
  return Ref::steal(PyObject_Str(object));
}

int PythonCode::equal(Conversion& c, PyObject* a, PyObject* b) {
  Passage passage(c, a);
  Ref hold_b = Ref::borrow(b);
  return PyObject_RichCompareBool(a, b, Py_EQ);
}

int PythonCode::ask(Conversion& c, PyObject* object, PyObject* name, PyObject* other) {
  Passage passage(c, object);
  Ref hold_other = Ref::borrow(other);
  Ref method = Ref::steal(PyObject_GetAttr(object, name));
  if (!method) return -1;
  Ref answer = Ref::steal(PyObject_CallFunctionObjArgs(method.get(), other, nullptr));
  if (!answer) return -1;
  return PyObject_IsTrue(answer.get());
}

Ref PythonCode::imported_attribute(Conversion& c, const char* module, const char* name) {
  Passage passage(c);
  Ref module_name = Ref::steal(PyUnicode_FromString(module));
  if (!module_name) return {};
  Ref found = Ref::steal(PyImport_GetModule(module_name.get()));
  if (found) found = Ref::steal(PyObject_GetAttrString(found.get(), name));
  if (!found && PyErr_Occurred() && clear_if_ordinary()) return {};
  return found;
}

int PythonCode::runs_signal_handlers(Conversion& c) {
  // A sub-interpreter never runs signal handlers, and never fixes the answer
  // for the main one.
  const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (interpreter < 0) return -1;
  if (interpreter != 0) return 0;
  if (const int known = main_thread_by_system(); known >= 0) return known;
  const unsigned long* main = main_thread_ident_if_known();
  if (main == nullptr) {
    Passage passage(c);  // finding it imports threading
    main = main_thread_ident();
    if (main == nullptr) return -1;
  }
  return PyThread_get_thread_ident() == *main ? 1 : 0;
}

}  // namespace quorvel::py
