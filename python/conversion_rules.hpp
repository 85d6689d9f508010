// Included last by every file whose code runs while a call's arguments are
// read. The interpreter calls below can run Python code (a __float__, a
// __len__, an iterator, a __getattr__, a buffer export written in Python, a
// numpy conversion that warns, an import), and such code must not see, nor
// change, an array an earlier argument is reading in place, nor leave the
// call computing under another floating-point state: these files reach them
// only through the gate (python_code.hpp), or for the closed list of inert
// objects through inert.hpp, both included before this. Naming one of them
// directly here fails the build.
#pragma once

#include "ref.hpp"

#if defined(__GNUC__) || defined(__clang__)
#pragma GCC poison PyObject_GetIter PyIter_Next PyNumber_Index PyNumber_Float PyObject_Size
#pragma GCC poison PyObject_GetAttr PyObject_GetAttrString PyObject_Call PyObject_CallNoArgs
#pragma GCC poison PyObject_CallObject _PyObject_CallMethod_SizeT PyObject_CallFunctionObjArgs
#pragma GCC poison PyObject_CallMethodObjArgs PyObject_Vectorcall
#pragma GCC poison PyObject_Str PyObject_Repr PyObject_RichCompare PyObject_RichCompareBool
#pragma GCC poison PyObject_IsTrue PyObject_GetItem PySequence_GetItem PySequence_Fast
#pragma GCC poison PyImport_Import PyImport_ImportModule PyImport_GetModule
#pragma GCC poison PyFloat_AsDouble PyObject_GetBuffer PyObject_IsInstance PyErr_WarnEx
#endif
