#include "binding.hpp"

#include <cstring>
#include <string>

#include "errors.hpp"

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

bool raise_type_error(const std::string& text) noexcept { return raise(PyExc_TypeError, text); }

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

}  // namespace quorvel::py
