// libFuzzer target: loading from arbitrary bytes may only ever fail with the toolkit's typed
// exceptions (never a crash, a sanitizer report, an absurd allocation or another exception),
// and whatever loads has a stable stored form. Every input is read as each kind of archive:
// a polymorphic object (any registered class: exceptions, error families, the line-scan
// transform), a sequence of plain values, each geometry value, each parameter record, the
// calibrated transform alone and in a vector, and a line-scan transform loaded in place; a
// loaded or partly loaded transform must stay usable.
#include "archive_fuzz_classes.h"

#include <ccal/calibrated_xform_archive.h>
#include <ccal/line_scan_calibration.h>
#include <ccal/line_scan_xform.h>
#include <ccal/telecentric_calibration.h>
#include <tk/archive.h>
#include <tk/archive_geometry.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "archive_load_fuzz: %s\n", what);
  std::abort();
}

// Runs step; a toolkit exception is an allowed outcome, anything else is a defect.
template <class Step>
bool onlyToolkitFailures(Step step) {
  try {
    step();
    return true;
  } catch (const tkException&) {
    return false;
  } catch (const std::exception& e) {
    fail(e.what());
  } catch (...) {
    fail("an exception of unknown type");
  }
}

template <class T>
Bytes storeOrFail(T& value) {
  Bytes stored;
  try {
    tkArchive ar(stored, tkArchive::eStore);
    ar || value;
  } catch (const std::exception& e) {
    fail(e.what());
  }
  return stored;
}

// What loaded must store without failing, load back in full from what it stored, and store
// again to the same bytes. (The first store may differ from the input: a class that read an
// older version of itself writes its newest.)
template <class T, class Release>
void expectStableForm(T& value, Release release) {
  Bytes first = storeOrFail(value);
  Bytes copy = first;
  tkArchive ar(copy, tkArchive::eLoad);
  T reloaded{};
  try {
    ar || reloaded;
  } catch (const std::exception& e) {
    fail(e.what());
  }
  if (ar.remaining() != 0)
    fail("a stored value loads back without reading all its bytes");
  Bytes second = storeOrFail(reloaded);
  release(reloaded);
  if (second != first)
    fail("a value stores differently after a store and load");
}

// Maps a few points both ways and copies the transform: whatever was loaded (even garbage
// numbers) may give odd results or typed exceptions, never undefined behaviour.
void exercise(const tk2XformLineScan& xform) {
  onlyToolkitFailures([&] {
    const tkVector<2> points[] = {tkVector<2>(0, 0), tkVector<2>(10.5, -3), tkVector<2>(1e6, 1)};
    for (const tkVector<2>& p : points) {
      (void)xform.mapPoint(p);
      (void)xform.linearXform(p);
    }
    tk2XformLineScan copy(xform);
    (void)(copy == xform);
    (void)xform.inverse().mapPoint(points[1]);
  });
}

void loadPolymorphic(const Bytes& input) {
  Bytes bytes = input;
  tkArchive ar(bytes, tkArchive::eLoad);
  tkPersistent* object = nullptr;
  if (!onlyToolkitFailures([&] { ar || object; }))
    return;
  expectStableForm(object, [](tkPersistent* reloaded) { delete reloaded; });
  if (auto* xform = dynamic_cast<tk2XformLineScan*>(object))
    exercise(*xform);
  if (tkException* exception = dynamic_cast<tkException*>(object)) {
    (void)exception->what();
    onlyToolkitFailures([&] { exception->suicideAndRethrow(); });
  } else {
    delete object;
  }
}

void loadLineScanInPlace(const Bytes& input) {
  Bytes bytes = input;
  tkArchive ar(bytes, tkArchive::eLoad);
  tk2XformLineScan xform;
  const bool loaded = onlyToolkitFailures([&] { ar || static_cast<tkPersistent&>(xform); });
  exercise(xform);
  if (loaded)
    expectStableForm(xform, [](tk2XformLineScan&) {});
}

template <class T>
void loadValue(const Bytes& input) {
  Bytes bytes = input;
  tkArchive ar(bytes, tkArchive::eLoad);
  T value{};
  if (onlyToolkitFailures([&] { ar || value; }))
    expectStableForm(value, [](T&) {});
}

void loadSequence(const Bytes& input) {
  Bytes bytes = input;
  tkArchive ar(bytes, tkArchive::eLoad);
  FuzzSequence sequence;
  if (!onlyToolkitFailures([&] { ar || sequence; }))
    return;
  expectStableForm(sequence, [](FuzzSequence&) {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes input(data, data + size);
  loadPolymorphic(input);
  loadSequence(input);
  loadLineScanInPlace(input);
  loadValue<tkVector<2>>(input);
  loadValue<tkVector<3>>(input);
  loadValue<tkXform<2>>(input);
  loadValue<tkXform<3>>(input);
  loadValue<tk1Xform>(input);
  loadValue<tkCalibrateLineScanCameraParams>(input);
  loadValue<tkCalibrateTelecentricCameraParams>(input);
  loadValue<tk2XformCalib2>(input);
  loadValue<std::vector<tk2XformCalib2>>(input);
  return 0;
}
