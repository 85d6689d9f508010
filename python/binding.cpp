#include "binding.hpp"

#include <cstring>
#include <string>

#include "process_values.hpp"

namespace quorvel::py {
namespace {

std::string display_name(const SignatureDescriptor& d) {
  std::string out;
  if (!d.class_name.empty()) {
    out.append(d.class_name);
    out.push_back('.');
  }
  out.append(d.function_name);
  out.append("()");
  return out;
}

bool raise_type_error(const std::string& text) noexcept {
  Ref message = Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  if (message) PyErr_SetObject(PyExc_TypeError, message.get());
  return false;
}

bool too_many_positional(const SignatureDescriptor& d, Py_ssize_t given) {
  // "arguments" stays plural whatever the count, as in the interpreter's
  // own wording for functions that take several.
  return raise_type_error(display_name(d) + " takes " + std::to_string(d.parameters.size()) +
                          " positional arguments but " + std::to_string(given) +
                          (given == 1 ? " was given" : " were given"));
}

bool unexpected_keyword(const SignatureDescriptor& d, PyObject* name) {
  // str() of the name object rather than its UTF-8: the name may hold a lone
  // surrogate that has no UTF-8 form.
  Ref text = Ref::steal(PyObject_Str(name));
  if (!text) return false;
  const std::string prefix = display_name(d);
  Ref message = Ref::steal(
      PyUnicode_FromFormat("%s got an unexpected keyword argument '%U'", prefix.c_str(), text.get()));
  if (message) PyErr_SetObject(PyExc_TypeError, message.get());
  return false;
}

/// Puts one keyword argument into its slot, or raises.
bool place_keyword(const SignatureDescriptor& d, PyObject* name, PyObject* value, PyObject** slots) {
  Py_ssize_t length = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(name, &length);
  if (utf8 == nullptr) {
    PyErr_Clear();  // not encodable: it cannot name any parameter
    return unexpected_keyword(d, name);
  }
  const std::string_view key(utf8, static_cast<std::size_t>(length));
  for (std::size_t i = 0; i < d.parameters.size(); ++i) {
    if (d.parameters[i] != key) continue;
    if (slots[i] != nullptr) {
      return raise_type_error(display_name(d) + " got multiple values for argument '" +
                              std::string(d.parameters[i]) + "'");
    }
    slots[i] = value;
    return true;
  }
  return unexpected_keyword(d, name);
}

/// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string name_list(const SignatureDescriptor& d, PyObject* const* slots) {
  std::size_t total = 0;
  for (std::size_t i = 0; i < d.parameters.size(); ++i) total += slots[i] == nullptr;
  std::string out;
  std::size_t written = 0;
  for (std::size_t i = 0; i < d.parameters.size(); ++i) {
    if (slots[i] != nullptr) continue;
    if (written > 0) {
      if (total > 2) out.push_back(',');
      out.push_back(' ');
      if (written + 1 == total) out.append("and ");
    }
    out.push_back('\'');
    out.append(d.parameters[i]);
    out.push_back('\'');
    ++written;
  }
  return out;
}

bool check_missing(const SignatureDescriptor& d, Py_ssize_t given, PyObject* const* slots) {
  const auto p = static_cast<Py_ssize_t>(d.parameters.size());
  if (given >= p) return true;
  std::size_t missing = 0;
  for (std::size_t i = 0; i < d.parameters.size(); ++i) missing += slots[i] == nullptr;
  if (missing == 0) return true;
  return raise_type_error(display_name(d) + " missing " + std::to_string(missing) +
                          " required positional " + (missing == 1 ? "argument" : "arguments") +
                          ": " + name_list(d, slots));
}

/// The name of a cast target: a class's qualified name ("None" for the type
/// of None), names of a tuple's classes joined by " | ", else str().
Ref target_name(PyObject* target) {
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

bool bind_arguments(const SignatureDescriptor& d, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots) {
  const auto p = static_cast<Py_ssize_t>(d.parameters.size());
  for (Py_ssize_t i = 0; i < nargs && i < p; ++i) slots[i] = args[i];
  if (nargs > p) return too_many_positional(d, nargs);
  if (kwnames != nullptr) {
    const Py_ssize_t count = PyTuple_Size(kwnames);
    for (Py_ssize_t j = 0; j < count; ++j) {
      if (!place_keyword(d, PyTuple_GetItem(kwnames, j), args[nargs + j], slots)) return false;
    }
  }
  return check_missing(d, nargs, slots);
}

bool bind_arguments(const SignatureDescriptor& d, PyObject* args, PyObject* kwargs,
                    PyObject** slots) {
  const auto p = static_cast<Py_ssize_t>(d.parameters.size());
  const Py_ssize_t nargs = PyTuple_Size(args);
  if (nargs < 0) return false;
  for (Py_ssize_t i = 0; i < nargs && i < p; ++i) slots[i] = PyTuple_GetItem(args, i);
  if (nargs > p) return too_many_positional(d, nargs);
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      if (!place_keyword(d, key, value, slots)) return false;
    }
  }
  return check_missing(d, nargs, slots);
}

bool cast_error(PyObject* object, PyObject* target) noexcept {
  try {
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
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  }
  return false;
}

void add_argument_note(std::string_view parameter) noexcept {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    const InternedNames* names = interned_names();
    Ref name = Ref::steal(PyUnicode_FromStringAndSize(parameter.data(),
                                                      static_cast<Py_ssize_t>(parameter.size())));
    Ref note = name ? Ref::steal(PyUnicode_FromFormat("while processing '%U'", name.get())) : Ref();
    Ref add_note = (names && note) ? Ref::steal(PyObject_GetAttr(value, names->add_note)) : Ref();
    Ref done = add_note ? Ref::steal(PyObject_CallFunctionObjArgs(add_note.get(), note.get(), nullptr))
                        : Ref();
    if (!done) PyErr_Clear();  // the note is a courtesy; never replace the real error
  }
  PyErr_Restore(type, value, traceback);
}

}  // namespace quorvel::py
