#include "python_code.hpp"

#include <cstdint>

#include "errors.hpp"
#include "process_values.hpp"

namespace quorvel::py {

bool PythonCode::float_of(Conversion& c, PyObject* object, double& out) {
  if (may_run_python(object)) before(c);
  // A reference of our own meanwhile: the code may drop the object from the
  // list it came from.
  Ref hold = Ref::borrow(object);
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) return false;  // a genuine -1.0 is fine
  out = value;
  return true;
}

Ref PythonCode::index_of(Conversion& c, PyObject* object) {
  if (may_run_python(object)) before(c);
  return Ref::steal(PyNumber_Index(object));
}

Ref PythonCode::class_attribute(Conversion& c, PyTypeObject* type, PyObject* name) {
  // A class defined in Python may have a metaclass defined in Python too.
  if ((PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE) != 0) before(c);
  return Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), name));
}

Ref PythonCode::call_bound(Conversion& c, PyObject* owner, PyObject* method) {
  if (may_run_python(owner)) before(c);
  return Ref::steal(PyObject_CallNoArgs(method));
}

bool PythonCode::buffer_of(Conversion& c, PyObject* exporter, HeldBuffer& buffer, int flags) {
  if (may_run_python(exporter)) before(c);
  return buffer.acquire(exporter, flags);
}

bool PythonCode::length_hint(Conversion& c, PyObject* object, Py_ssize_t& hint) {
  before(c);
  hint = PyObject_Size(object);
  if (hint >= 0) return true;
  if (!clear_if_ordinary()) return false;  // an interrupt goes on
  hint = 0;
  return true;
}

Ref PythonCode::iterator(Conversion& c, PyObject* object) {
  before(c);
  return Ref::steal(PyObject_GetIter(object));
}

Ref PythonCode::next(Conversion& c, PyObject* iterator) {
  before(c);
  return Ref::steal(PyIter_Next(iterator));
}

Ref PythonCode::attribute(Conversion& c, PyObject* object, PyObject* name) {
  before(c);
  return Ref::steal(PyObject_GetAttr(object, name));
}

Ref PythonCode::call_method(Conversion& c, PyObject* object, PyObject* name, PyObject* kwargs) {
  before(c);
  Ref method = Ref::steal(PyObject_GetAttr(object, name));
  if (!method) return method;
  Ref no_args = Ref::steal(PyTuple_New(0));
  if (!no_args) return no_args;
  return Ref::steal(PyObject_Call(method.get(), no_args.get(), kwargs));
}

Ref PythonCode::text_of(Conversion& c, PyObject* object) {
  before(c);
  return Ref::steal(PyObject_Str(object));
}

Ref PythonCode::imported_attribute(Conversion& c, const char* module, const char* name) {
  before(c);
  Ref module_name = Ref::steal(PyUnicode_FromString(module));
  if (!module_name) return {};
  Ref found = Ref::steal(PyImport_GetModule(module_name.get()));
  if (found) found = Ref::steal(PyObject_GetAttrString(found.get(), name));
  if (!found) PyErr_Clear();
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
    before(c);
    main = main_thread_ident();
    if (main == nullptr) return -1;
  }
  return PyThread_get_thread_ident() == *main ? 1 : 0;
}

}  // namespace quorvel::py
