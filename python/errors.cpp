#include "errors.hpp"

#include <exception>
#include <string>

#include "invariant.hpp"
#include "process_values.hpp"

namespace quorvel::py {
namespace {

/// The name of a cast target: a class's qualified name ("None" for the type
/// of None), names of a tuple's classes joined by " | ", else str().
Ref target_name(PyObject* target) noexcept {
  if (PyTuple_Check(target)) {
    const Py_ssize_t n = PyTuple_Size(target);
    Ref parts = Ref::steal(PyList_New(0));
    if (!parts) return {};
    for (Py_ssize_t i = 0; i < n; ++i) {
      Ref part = target_name(PyTuple_GetItem(target, i));
      if (!part || PyList_Append(parts.get(), part.get()) < 0) return {};
    }
    Ref separator = Ref::steal(PyUnicode_FromString(" | "));
    if (!separator) return {};
    return Ref::steal(PyUnicode_Join(separator.get(), parts.get()));
  }
  if (PyType_Check(target)) {
    if (target == reinterpret_cast<PyObject*>(Py_TYPE(Py_None))) {
      return Ref::steal(PyUnicode_FromString("None"));
    }
    return Ref::steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(target)));
  }
  return Ref::steal(PyObject_Str(target));
}

}  // namespace

bool raise(PyObject* type, std::string_view text) noexcept {
  Ref message = Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  if (message) PyErr_SetObject(type, message.get());
  return false;
}

bool raise_core_error(CoreError error) noexcept {
  if (error == CoreError::Interrupted) {
    QUORVEL_INVARIANT(PyErr_Occurred() != nullptr, "interrupted without an exception");
    return false;
  }
  return raise(PyExc_ValueError, message(error));
}

bool cast_error(PyObject* object, PyObject* target) noexcept {
  Ref target_text = target_name(target);
  if (!target_text) return false;
  Ref message;
  if (object == Py_None) {
    message = Ref::steal(PyUnicode_FromFormat("'None' is not an instance of '%U'", target_text.get()));
  } else {
    Ref type_text = Ref::steal(PyType_GetQualName(Py_TYPE(object)));
    if (!type_text) {
      PyErr_Clear();
      type_text = Ref::steal(PyUnicode_FromString("<failed to extract type name>"));
      if (!type_text) return false;
    }
    message = Ref::steal(PyUnicode_FromFormat("'%U' object is not an instance of '%U'",
                                              type_text.get(), target_text.get()));
  }
  if (message) PyErr_SetObject(PyExc_TypeError, message.get());
  return false;
}

void add_note(std::string_view text) noexcept {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    const InternedNames* names = interned_names();
    Ref note = Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    Ref add_note = (names && note) ? Ref::steal(PyObject_GetAttr(value, names->add_note)) : Ref();
    Ref done = add_note ? Ref::steal(PyObject_CallFunctionObjArgs(add_note.get(), note.get(), nullptr))
                        : Ref();
    if (!done) {
      if (!PyErr_ExceptionMatches(PyExc_Exception)) {
        // An interrupt (KeyboardInterrupt, SystemExit) came while the note
        // was added, from a signal handler or the exception's own add_note:
        // it goes on, with the real error as its context.
        PyObject* interrupt_type = nullptr;
        PyObject* interrupt = nullptr;
        PyObject* interrupt_traceback = nullptr;
        PyErr_Fetch(&interrupt_type, &interrupt, &interrupt_traceback);
        PyErr_NormalizeException(&interrupt_type, &interrupt, &interrupt_traceback);
        Py_XDECREF(type);
        Py_XDECREF(traceback);
        if (interrupt != nullptr) {
          PyException_SetContext(interrupt, value);  // takes the reference
        } else {
          Py_DECREF(value);
        }
        PyErr_Restore(interrupt_type, interrupt, interrupt_traceback);
        return;
      }
      PyErr_Clear();  // the note is a courtesy; never replace the real error
    }
  }
  PyErr_Restore(type, value, traceback);
}

void add_argument_note(std::string_view parameter) noexcept {
  std::string note;
  try {
    note.append("while processing '").append(parameter).append("'");
  } catch (...) {
    return;  // no room for the note: the exception goes without it
  }
  add_note(note);
}

bool is_shape_mismatch(CoreError error) noexcept {
  switch (error) {
    case CoreError::RaggedMatrix:
    case CoreError::NonSquareMatrix:
    case CoreError::CovarianceWeightsMismatch:
    case CoreError::InputLengthMismatch:
    case CoreError::ExpectedReturnsMismatch:
    case CoreError::ExposureLengthMismatch:
      return true;
    default:
      return false;
  }
}

bool clear_if_ordinary() noexcept {
  if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;
  PyErr_Clear();
  return true;
}

void raise_caught_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::length_error&) {
    PyErr_NoMemory();  // a size beyond what a container can hold
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "quorvel: unexpected internal exception");
  }
}

}  // namespace quorvel::py
