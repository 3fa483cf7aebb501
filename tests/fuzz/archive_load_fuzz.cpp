// libFuzzer target: loading from arbitrary bytes may only ever fail with the toolkit's typed
// exceptions (never a crash, a sanitizer report, an absurd allocation or another exception),
// and whatever loads has a stable stored form.
#include "archive_fuzz_classes.h"

#include <tk/archive.h>

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

void loadPolymorphic(const Bytes& input) {
  Bytes bytes = input;
  tkArchive ar(bytes, tkArchive::eLoad);
  tkPersistent* object = nullptr;
  if (!onlyToolkitFailures([&] { ar || object; }))
    return;
  expectStableForm(object, [](tkPersistent* reloaded) { delete reloaded; });
  if (tkException* exception = dynamic_cast<tkException*>(object)) {
    (void)exception->what();
    onlyToolkitFailures([&] { exception->suicideAndRethrow(); });
  } else {
    delete object;
  }
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
  return 0;
}
