#include "pandas.hpp"

#include <string_view>

#include "errors.hpp"
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
/// str(dtype), or without the dtype when it cannot be named.
bool refuse_frame(PyObject* dtype, Conversion& c) {
  Ref text = dtype != nullptr ? PythonCode::text_of(c, dtype) : Ref();
  if (!text) {
    if (dtype != nullptr && !clear_if_ordinary()) return false;
    return raise(PyExc_TypeError, "DataFrame values must be real numbers");
  }
  PyErr_Format(PyExc_TypeError, "DataFrame values must be real numbers, not dtype '%U'", text.get());
  return false;
}

/// A frame whose to_numpy() holds no real numbers (`values`): read it by
/// value when every column is numeric and some are extension dtypes
/// (to_numpy() gives objects for those); otherwise refuse it, naming the
/// first column dtype that is not numeric among extension dtypes, or the
/// values' own dtype.
bool read_frame_by_value(PyObject* frame, PyObject* values, const InternedNames& names,
                         MatrixArg& out, Conversion& c) {
  Ref values_dtype = PythonCode::attribute(c, values, names.dtype);
  if (!values_dtype && !clear_if_ordinary()) return false;
  Ref dtypes = PythonCode::attribute(c, frame, names.dtypes);
  Ref iterator = dtypes ? PythonCode::iterator(c, dtypes.get()) : Ref();
  if (!iterator) {
    if (!clear_if_ordinary()) return false;
    return refuse_frame(values_dtype.get(), c);
  }
  bool numeric = true, extension = false;
  Ref blocking;
  while (Ref dtype = PythonCode::next(c, iterator.get())) {
    DtypeFacts facts;
    if (!facts_of(dtype.get(), names, facts, c)) return false;
    extension = extension || !facts.numpy;
    if (!numeric_kind(facts.kind)) {
      numeric = false;
      if (!facts.numpy && !blocking) blocking = std::move(dtype);
    }
  }
  if (PyErr_Occurred() && !clear_if_ordinary()) return false;
  if (numeric && extension) {
    Ref doubles = as_doubles(frame, names, c);
    if (!doubles) {
      if (!clear_if_ordinary()) return false;
      return refuse_frame(blocking ? blocking.get() : values_dtype.get(), c);
    }
    const ArrayKind kind = recognise(doubles.get(), c);
    if (kind == ArrayKind::Failed) return false;
    if (kind == ArrayKind::NdArray) {
      const Taken taken = read_matrix_buffer(doubles.get(), Exporter::NdArray, out, c);
      if (taken != Taken::No) return taken == Taken::Yes;
    }
  }
  return refuse_frame(blocking ? blocking.get() : values_dtype.get(), c);
}

}  // namespace

Taken read_series(PyObject* series, Doubles& out, VectorArg* in_place, Conversion& c) {
  const InternedNames* names = interned_names();
  if (names == nullptr) return Taken::Failed;
  Ref values = PythonCode::attribute(c, series, names->values);
  if (!values) return clear_if_ordinary() ? Taken::No : Taken::Failed;
  ArrayKind kind = recognise(values.get(), c);
  if (kind == ArrayKind::Failed) return Taken::Failed;
  if (kind != ArrayKind::NdArray) {
    // An extension array: numbers with pd.NA are read as doubles with NaN;
    // anything else is iterated, as before.
    Ref dtype = PythonCode::attribute(c, series, names->dtype);
    if (!dtype) return clear_if_ordinary() ? Taken::No : Taken::Failed;
    DtypeFacts facts;
    if (!facts_of(dtype.get(), *names, facts, c)) return Taken::Failed;
    if (!numeric_kind(facts.kind)) return Taken::No;
    values = as_doubles(series, *names, c);
    if (!values) return clear_if_ordinary() ? Taken::No : Taken::Failed;
    kind = recognise(values.get(), c);
    if (kind == ArrayKind::Failed) return Taken::Failed;
    if (kind != ArrayKind::NdArray) return Taken::No;
  }
  return read_vector_buffer(values.get(), Exporter::NdArray, out, in_place, c);
}

bool read_dataframe(PyObject* frame, MatrixArg& out, Conversion& c) {
  const InternedNames* names = interned_names();
  if (names == nullptr) return false;
  Ref values = PythonCode::call_method(c, frame, names->to_numpy, nullptr);
  if (!values) return false;
  const ArrayKind kind = recognise(values.get(), c);
  if (kind == ArrayKind::Failed) return false;
  if (kind == ArrayKind::NdArray) {
    const Taken taken = read_matrix_buffer(values.get(), Exporter::NdArray, out, c, ComplexBuffer::Passed);
    if (taken != Taken::No) return taken == Taken::Yes;
  }
  return read_frame_by_value(frame, values.get(), *names, out, c);
}

}  // namespace quorvel::py
