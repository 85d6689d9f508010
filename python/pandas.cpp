#include "pandas.hpp"

#include <cstring>
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

/// The labels of one axis: read where they lie when pandas keeps them in a
/// numpy array of objects (strings, tuples), else from the list tolist()
/// makes, which creates an object per label, copied. The array is held, exported,
/// for as long as this lives.
class Labels {
 public:
  /// Reads the labels in place when pandas keeps them as objects; else
  /// leaves them for list(). False only with an interrupt set. `array` is
  /// index.array when it was read (null otherwise).
  bool in_place(PyObject* index, PyObject* array, const InternedNames& names, Conversion& c) {
    tried_ = true;
#ifndef Py_GIL_DISABLED
    // Borrowed items of an array are safe to read only while nothing else
    // runs; a free-threaded build takes the list instead. to_numpy() of the
    // index's array is a view of the labels, not a copy.
    Ref values = PythonCode::call_method(c, array != nullptr ? array : index, names.to_numpy, nullptr);
    if (!values && !clear_if_ordinary()) return false;
    if (values) {
      const ArrayKind kind = recognise(values.get(), c);
      if (kind == ArrayKind::Failed) return false;
      if (kind == ArrayKind::NdArray && acquire_inert(buffer_, values.get())) {
        const Py_buffer& view = buffer_.get();
        if (view.ndim == 1 && view.format != nullptr && view.format[0] == 'O' && view.format[1] == '\0' &&
            view.itemsize == static_cast<Py_ssize_t>(sizeof(PyObject*)) && view.strides != nullptr &&
            view.suboffsets == nullptr) {
          base_ = static_cast<const char*>(view.buf);
          stride_ = view.strides[0];
          size_ = view.shape[0];
          holder_ = std::move(values);
          return true;
        }
        buffer_.release();
        return true;  // numbers: tolist() makes their objects cheaply
      }
      if (PyErr_Occurred()) PyErr_Clear();  // numpy's own refusal of a buffer
    }
    // Dates, periods of time and the like: an object per label is costly.
    costly_ = true;
#else
    static_cast<void>(index);
    static_cast<void>(array);
    static_cast<void>(names);
    static_cast<void>(c);
#endif
    return true;
  }

  /// The labels as tolist() gives them, when they were not read in place,
  /// taken into a tuple of this call's own: the list may be one that other
  /// code keeps and changes (another thread, a label's __eq__), and a tuple
  /// holds its items for as long as it lives. False only with an interrupt
  /// set.
  bool listed(PyObject* index, const InternedNames& names, Conversion& c) {
    if (holder_ || listed_) return true;
    listed_ = true;
    const Ref list = PythonCode::call_method(c, index, names.tolist, nullptr);
    if (!list) return clear_if_ordinary();
    if (!PyList_CheckExact(list.get())) return true;  // not compared
    // Exact lists are copied under their own lock: no Python code runs.
    tuple_ = Ref::steal(PySequence_Tuple(list.get()));
    if (!tuple_) return clear_if_ordinary();
    return true;
  }

  [[nodiscard]] bool tried() const noexcept { return tried_; }
  /// Whether listing the labels would make a costly object for each.
  [[nodiscard]] bool costly() const noexcept { return costly_; }
  [[nodiscard]] bool read_in_place() const noexcept { return static_cast<bool>(holder_); }
  [[nodiscard]] bool ok() const noexcept { return holder_ || tuple_; }
  [[nodiscard]] Py_ssize_t size() const noexcept { return tuple_ ? PyTuple_Size(tuple_.get()) : size_; }
  /// Label i, borrowed from the array or the tuple, which hold it.
  [[nodiscard]] PyObject* at(Py_ssize_t i) const noexcept {
    if (tuple_) return PyTuple_GetItem(tuple_.get(), i);
    PyObject* item = nullptr;
    std::memcpy(&item, base_ + i * stride_, sizeof item);
    return item;
  }

 private:
  HeldBuffer buffer_;
  Ref holder_;
  const char* base_ = nullptr;
  Py_ssize_t stride_ = 0;
  Py_ssize_t size_ = 0;
  Ref tuple_;
  bool tried_ = false;
  bool listed_ = false;
  bool costly_ = false;
};

/// One side of a comparison: whose labels, which axis, and what has been
/// read of them so far.
struct Side {
  std::size_t parameter;
  LabelAxis axis;
  Ref index;      ///< the pandas Index
  Ref array;      ///< index.array, when read
  Labels labels;  ///< the labels, once read
};

/// Whether a value read from a label object is exactly the int `expected`.
bool is_int(PyObject* value, long expected) noexcept {
  if (value == nullptr || !PyLong_CheckExact(value)) return false;
  const long read = PyLong_AsLong(value);
  if (read == -1 && PyErr_Occurred()) {
    PyErr_Clear();
    return false;
  }
  return read == expected;
}

/// Whether `side` is a RangeIndex (`range` set), and then whether it is the
/// one pandas gives any object built without labels: from 0 by 1, labels
/// that are mere positions. Read by its start and step, never its labels.
/// False with an interrupt set when reading raised one.
bool range_positions(Side& side, const InternedNames& names, Conversion& c, bool& range,
                     bool& positions) {
  range = positions = false;
  const ArrayKind kind = recognise(side.index.get(), c);
  if (kind == ArrayKind::Failed) return false;
  if (kind != ArrayKind::RangeIndex) return true;
  range = true;
  const Ref start = PythonCode::attribute(c, side.index.get(), names.start);
  const Ref step = start ? PythonCode::attribute(c, side.index.get(), names.step) : Ref();
  if (!step) return clear_if_ordinary();
  positions = is_int(start.get(), 0) && is_int(step.get(), 1);
  return true;
}

/// Whether the label objects of the two sides were had, reading each side
/// once however many comparisons it takes part in. Labels pandas keeps as
/// objects are read where they lie, numbers listed; others (dates) would
/// become a costly object per label, so pandas is asked first, on its own
/// arrays, whether the two indexes are equal (`same` then set). False only
/// with an interrupt set.
bool labels_of(Side& a, Side& b, const InternedNames& names, Conversion& c, bool& same) {
  same = false;
  for (Side* side : {&a, &b}) {
    if (!side->labels.tried() && !side->labels.in_place(side->index.get(), side->array.get(), names, c)) {
      return false;
    }
  }
  if (a.labels.read_in_place() && b.labels.read_in_place()) return true;
  if (a.labels.costly() || b.labels.costly()) {
    const int equal = PythonCode::ask(c, a.index.get(), names.equals, b.index.get());
    if (equal < 0 && !clear_if_ordinary()) return false;
    if (equal > 0) {
      same = true;
      return true;
    }
  }
  return a.labels.listed(a.index.get(), names, c) && b.labels.listed(b.index.get(), names, c);
}

/// Records where two sides' labels first differ. False only on an interrupt.
bool compare(Side& a, Side& b, const InternedNames& names, Conversion& c) {
  if (a.index.get() == b.index.get()) return true;  // the very same Index
  bool ranges = false;
  for (Side* side : {&a, &b}) {
    bool range = false, positions = false;
    if (!range_positions(*side, names, c, range, positions)) return false;
    if (positions) return true;  // no labels to disagree with
    ranges = ranges || range;
  }
  // Two indexes pandas built over the same array of labels (a covariance
  // from DataFrame.cov() has such an index and columns) agree.
  if (!ranges) {
    for (Side* side : {&a, &b}) {
      side->array = PythonCode::attribute(c, side->index.get(), names.array);
      if (!side->array && !clear_if_ordinary()) return false;
    }
    if (a.array && a.array.get() == b.array.get()) return true;
  }
  bool agreed = false;
  if (!labels_of(a, b, names, c, agreed)) return false;
  if (agreed || !a.labels.ok() || !b.labels.ok()) return true;
  const Labels* const x = &a.labels;
  const Labels* const y = &b.labels;
  const Py_ssize_t n = x->size();
  // Labels of different lengths belong to shapes the call refuses anyway.
  if (n != y->size()) return true;
  for (Py_ssize_t i = 0; i < n; ++i) {
    // A label's own comparison may run Python code, which may put other
    // labels into an array read in place (never resize it: it is held
    // exported): both labels compared are held while it runs.
    PyObject* const first = x->at(i);
    PyObject* const second = y->at(i);
    Same same = same_label(first, second);
    if (same == Same::Unknown) {
      const Ref held_first = Ref::borrow(first), held_second = Ref::borrow(second);
      const int equal = PythonCode::equal(c, first, second);
      if (equal < 0) {
        if (!clear_if_ordinary()) return false;
        continue;  // labels that cannot be compared are not; the next ones may be
      }
      same = equal != 0 ? Same::Yes : Same::No;
    }
    if (same == Same::No) {
      c.label_mismatch({a.parameter, a.axis, b.parameter, b.axis, static_cast<std::size_t>(i),
                        Ref::borrow(first), Ref::borrow(second)});
      return true;
    }
  }
  return true;
}

/// getattr(object, name) for labels: null with no exception when absent,
/// with the exception set on an interrupt.
Ref axis_of(PyObject* object, PyObject* name, Conversion& c) {
  Ref axis = PythonCode::attribute(c, object, name);
  if (!axis) clear_unless_interrupt();
  return axis;
}

}  // namespace

Ref series_values(PyObject* series, Conversion& c) {
  const InternedNames* names = interned_names();
  if (names == nullptr) return {};
  Ref values = PythonCode::attribute(c, series, names->values);
  if (!values) {
    clear_unless_interrupt();
    return {};
  }
  const ArrayKind kind = recognise(values.get(), c);
  if (kind == ArrayKind::Failed) return {};
  if (kind == ArrayKind::NdArray) return values;
  // An extension array: numbers with pd.NA are read as doubles with NaN;
  // anything else is iterated, as before.
  Ref dtype = PythonCode::attribute(c, series, names->dtype);
  if (!dtype) {
    clear_unless_interrupt();
    return {};
  }
  DtypeFacts facts;
  if (!facts_of(dtype.get(), *names, facts, c) || !numeric_kind(facts.kind)) return {};
  values = as_doubles(series, *names, c);
  if (!values) {
    clear_unless_interrupt();
    return {};
  }
  // Only a numpy array is handed back to be read: an imitation whose
  // to_numpy() gave itself, or another Series, would be read again and
  // again, one C frame deeper each time.
  const ArrayKind doubles = recognise(values.get(), c);
  if (doubles != ArrayKind::NdArray) return {};
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
  Side rows{matrix, LabelAxis::Rows, std::move(index), {}, {}};
  Side cols{matrix, LabelAxis::Columns, std::move(columns), {}, {}};
  const std::size_t before = c.mismatches().size();
  if (!compare(rows, cols, *names, c)) return false;
  const bool axes_agree = c.mismatches().size() == before;
  for (const Conversion::Labelled& labelled : c.labelled_vectors()) {
    Ref series_index = axis_of(labelled.object.get(), names->index, c);
    if (!series_index) {
      if (PyErr_Occurred()) return false;
      continue;
    }
    // A Series made on the frame's own index (w.reindex(cov.index), say)
    // agrees with the columns when the index does.
    if (axes_agree && series_index.get() == rows.index.get()) continue;
    Side vector{labelled.parameter, LabelAxis::Index, std::move(series_index), {}, {}};
    if (!compare(vector, cols, *names, c)) return false;
  }
  return true;
}

}  // namespace quorvel::py
