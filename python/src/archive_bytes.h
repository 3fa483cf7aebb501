// The archive bytes of the Python module: every object it saves or loads moves through one of
// the library's archive operators, and to_bytes() / from_bytes() hand those bytes to Python.
//   CalibratedTransform      the library's operator of tk2XformCalib2
//                            (<ccal/calibrated_xform_archive.h>)
//   calibration files        std::vector<tk2XformCalib2>: a 32-bit count, then each transform
//                            (save_transforms / load_transforms; the files of ccal-calibrate)
//   LineScanTransform        the library's persistent form, through a tkPersistent*
//   LineScanOptions, TelecentricOptions  their library operators
#ifndef CCAL_PYTHON_ARCHIVE_BYTES_H
#define CCAL_PYTHON_ARCHIVE_BYTES_H

#include "bindings.h"

#include <tk/archive.h>

#include <string>
#include <vector>

// The bytes of `ar || value` (value is a copy: the operators take references).
template <class V>
py::bytes tfPyStore(V value) {
  std::vector<unsigned char> buffer;
  tkArchive archive(buffer, tkArchive::eStore);
  archive || value;
  archive.flush();
  return py::bytes(reinterpret_cast<const char*>(buffer.data()), buffer.size());
}

// `ar || value` from data. Throws what the operator throws, and tkArchive::Corrupt when bytes
// follow the value (a pointer loaded then is the caller's to delete).
template <class V>
void tfPyLoad(const py::bytes& data, V& value) {
  const std::string text = data;
  std::vector<unsigned char> buffer(text.begin(), text.end());
  tkArchive archive(buffer, tkArchive::eLoad);
  archive || value;
  if (archive.remaining() != 0)
    throw tkArchive::Corrupt(L"bytes follow the archived value");
}

template <class V>
V tfPyLoaded(const py::bytes& data) {
  V value;
  tfPyLoad(data, value);
  return value;
}

#endif
