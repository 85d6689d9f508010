#include "pandas.hpp"

#include <string_view>

#include "errors.hpp"
#include "inert.hpp"
#include "process_values.hpp"
#include "python_code.hpp"
#include "recognise.hpp"
#include "conversion_rules.hpp"  // last: see there

namespace quorvel::py {
namespace {

bool numeric_kind(char kind) noexcept {
  return kind == 'b' || kind == 'i' || kind == 'u' || kind == 'f';
}

/// What a dtype (numpy's or a pandas extension dtype) holds, by its `kind`
/// character, and whether it is numpy's own.
struct DtypeFacts {
  char kind = '\0';
  bool numpy = false;
};

/// False only on an interrupt; a dtype that cannot be read has kind '\0'.
bool facts_of(PyObject* dtype, const InternedNames& names, DtypeFacts& out, Conversion& c) {
  out = {};
  Ref kind = PythonCode::attribute(c, dtype, names.kind);
  if (!kind) return clear_if_ordinary();
  Py_ssize_t size = 0;
  const char* text = PyUnicode_Check(kind.get()) ? PyUnicode_AsUTF8AndSize(kind.get(), &size) : nullptr;
  if (text == nullptr) PyErr_Clear();
  if (text != nullptr && size == 1) out.kind = text[0];
  Ref module = PythonCode::class_attribute(c, Py_TYPE(dtype), names.module);
  if (!module) return clear_if_ordinary();
  Py_ssize_t length = 0;
  const char* name = PyUnicode_Check(module.get()) ? PyUnicode_AsUTF8AndSize(module.get(), &length) : nullptr;
  if (name == nullptr) PyErr_Clear();
  out.numpy = name != nullptr && std::string_view(name, static_cast<std::size_t>(length)).starts_with("numpy");
  return true;
}

/// object.to_numpy(dtype="float64", na_value=nan): the values as doubles,
/// pd.NA as NaN.
Ref as_doubles(PyObject* object, const InternedNames& names, Conversion& c) {
  Ref kwargs = Ref::steal(PyDict_New());
  Ref float64 = Ref::steal(PyUnicode_FromString("float64"));
  Ref nan = Ref::steal(PyFloat_FromDouble(Py_NAN));
  if (!kwargs || !float64 || !nan || PyDict_SetItem(kwargs.get(), names.dtype, float64.get()) < 0 ||
      PyDict_SetItemString(kwargs.get(), "na_value", nan.get()) < 0) {
    return {};
  }
  return PythonCode::call_method(c, object, names.to_numpy, kwargs.get());
}

/// TypeError "DataFrame values must be real numbers, not dtype 'X'" with
/// str(dtype), or without the dtype when it cannot be named. Always null.
Ref refuse_frame(PyObject* dtype, Conversion& c) {
  Ref text = dtype != nullptr ? PythonCode::text_of(c, dtype) : Ref();
  if (!text) {
    if (dtype != nullptr && !clear_if_ordinary()) return {};
    raise(PyExc_TypeError, "DataFrame values must be real numbers");
    return {};
  }
  PyErr_Format(PyExc_TypeError, "DataFrame values must be real numbers, not dtype '%U'", text.get());
  return {};
}

// Labels.

/// The labels of `axis` (an Index) as a list, or null: null with no
/// exception when they cannot be read (they are then not compared), with the
/// exception set on an interrupt.
Ref label_list(PyObject* axis, const InternedNames& names, Conversion& c) {
  Ref list = PythonCode::call_method(c, axis, names.tolist, nullptr);
  if (!list) {
    clear_if_ordinary();
    return {};
  }
  if (!PyList_CheckExact(list.get())) return {};
  return list;
}

/// Whether labels are the default ones, 0 to n - 1, which say nothing.
bool default_labels(PyObject* list) noexcept {
  const Py_ssize_t n = PyList_Size(list);
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* label = PyList_GetItem(list, i);
    if (!PyLong_CheckExact(label)) return false;
    const Py_ssize_t value = PyLong_AsSsize_t(label);
    if (value == -1 && PyErr_Occurred()) {
      PyErr_Clear();
      return false;
    }
    if (value != i) return false;
  }
  return true;
}

/// One side of a comparison: whose labels, which axis, and the labels.
struct Side {
  std::size_t parameter;
  LabelAxis axis;
  PyObject* axis_object;  ///< the Index
  Ref labels;             ///< its labels as a list, once read
};

/// Reads the labels of `side` when not read yet. False when there are none
/// to compare (default labels, or unreadable); the error is set only on an
/// interrupt.
bool readable(Side& side, const InternedNames& names, Conversion& c) {
  if (!side.labels) side.labels = label_list(side.axis_object, names, c);
  return side.labels && !default_labels(side.labels.get());
}

/// Records where two sides' labels first differ. False only on an interrupt.
bool compare(Side& a, Side& b, const InternedNames& names, Conversion& c) {
  if (a.axis_object == b.axis_object) return true;  // the very same Index
  if (!readable(a, names, c) || !readable(b, names, c)) return !PyErr_Occurred();
  const Py_ssize_t n = PyList_Size(a.labels.get());
  // Labels of different lengths belong to shapes the call refuses anyway.
  if (n != PyList_Size(b.labels.get())) return true;
  for (Py_ssize_t i = 0; i < n; ++i) {
    // Each list is ours, made by tolist(); it may still change if a label's
    // comparison runs Python code, so every item is held while compared.
    if (i >= PyList_Size(a.labels.get()) || i >= PyList_Size(b.labels.get())) return true;
    Ref x = Ref::borrow(PyList_GetItem(a.labels.get(), i));
    Ref y = Ref::borrow(PyList_GetItem(b.labels.get(), i));
    Same same = same_label(x.get(), y.get());
    if (same == Same::Unknown) {
      const int equal = PythonCode::equal(c, x.get(), y.get());
      if (equal < 0) {
        if (!clear_if_ordinary()) return false;
        return true;  // labels that cannot be compared are not compared
      }
      same = equal != 0 ? Same::Yes : Same::No;
    }
    if (same == Same::No) {
      c.label_mismatch({a.parameter, a.axis, b.parameter, b.axis, static_cast<std::size_t>(i),
                        std::move(x), std::move(y)});
      return true;
    }
  }
  return true;
}

/// getattr(object, name) for labels: null with no exception when absent.
Ref axis_of(PyObject* object, PyObject* name, Conversion& c) {
  Ref axis = PythonCode::attribute(c, object, name);
  if (!axis) clear_if_ordinary();
  return axis;
}

}  // namespace

Ref series_values(PyObject* series, Conversion& c) {
  const InternedNames* names = interned_names();
  if (names == nullptr) return {};
  Ref values = PythonCode::attribute(c, series, names->values);
  if (!values) {
    clear_if_ordinary();
    return {};
  }
  const ArrayKind kind = recognise(values.get(), c);
  if (kind == ArrayKind::Failed) return {};
  if (kind == ArrayKind::NdArray) return values;
  // An extension array: numbers with pd.NA are read as doubles with NaN;
  // anything else is iterated, as before.
  Ref dtype = PythonCode::attribute(c, series, names->dtype);
  if (!dtype) {
    clear_if_ordinary();
    return {};
  }
  DtypeFacts facts;
  if (!facts_of(dtype.get(), *names, facts, c) || !numeric_kind(facts.kind)) return {};
  values = as_doubles(series, *names, c);
  if (!values) clear_if_ordinary();
  return values;
}

Ref frame_values(PyObject* frame, Conversion& c) {
  const InternedNames* names = interned_names();
  if (names == nullptr) return {};
  return PythonCode::call_method(c, frame, names->to_numpy, nullptr);
}

Ref frame_values_by_value(PyObject* frame, PyObject* values, Conversion& c) {
  const InternedNames* names = interned_names();
  if (names == nullptr) return {};
  Ref values_dtype = PythonCode::attribute(c, values, names->dtype);
  if (!values_dtype && !clear_if_ordinary()) return {};
  Ref dtypes = PythonCode::attribute(c, frame, names->dtypes);
  Ref iterator = dtypes ? PythonCode::iterator(c, dtypes.get()) : Ref();
  if (!iterator) {
    if (!clear_if_ordinary()) return {};
    return refuse_frame(values_dtype.get(), c);
  }
  bool numeric = true, extension = false;
  Ref blocking;
  while (Ref dtype = PythonCode::next(c, iterator.get())) {
    DtypeFacts facts;
    if (!facts_of(dtype.get(), *names, facts, c)) return {};
    extension = extension || !facts.numpy;
    if (!numeric_kind(facts.kind)) {
      numeric = false;
      if (!facts.numpy && !blocking) blocking = std::move(dtype);
    }
  }
  if (PyErr_Occurred() && !clear_if_ordinary()) return {};
  if (numeric && extension) {
    Ref doubles = as_doubles(frame, *names, c);
    if (doubles) {
      const ArrayKind kind = recognise(doubles.get(), c);
      if (kind == ArrayKind::Failed) return {};
      if (kind == ArrayKind::NdArray) return doubles;
    } else if (!clear_if_ordinary()) {
      return {};
    }
  }
  return refuse_frame(blocking ? blocking.get() : values_dtype.get(), c);
}

bool compare_labels(PyObject* frame, Conversion& c) {
  const InternedNames* names = interned_names();
  if (names == nullptr) return false;
  Ref index = axis_of(frame, names->index, c);
  Ref columns = index ? axis_of(frame, names->columns, c) : Ref();
  if (!columns) return !PyErr_Occurred();
  const std::size_t matrix = c.parameter();
  Side rows{matrix, LabelAxis::Rows, index.get(), {}};
  Side cols{matrix, LabelAxis::Columns, columns.get(), {}};
  if (!compare(rows, cols, *names, c)) return false;
  for (const Conversion::Labelled& labelled : c.labelled_vectors()) {
    Ref series_index = axis_of(labelled.object.get(), names->index, c);
    if (!series_index) {
      if (PyErr_Occurred()) return false;
      continue;
    }
    Side vector{labelled.parameter, LabelAxis::Index, series_index.get(), {}};
    if (!compare(vector, cols, *names, c)) return false;
  }
  return true;
}

}  // namespace quorvel::py
