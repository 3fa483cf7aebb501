// Writes the seed corpus of archive_load_fuzz: small valid archives of each kind the target
// reads. Run it after a change of the archive format:  archive_seed_writer <folder>
#include "archive_fuzz_classes.h"

#include <tk/archive.h>
#include <tk/failure.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

void storePointer(const std::string& path, tkPersistent* object) {
  tkArchive ar(path, tkArchive::eStore);
  ar || object;
  ar.flush();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  const std::string folder = std::string(argv[1]) + "/";

  auto* values = new tkFuzzValues;
  values->flag = true;
  values->byte = 200;
  values->small = -3;
  values->integer = -70000;
  values->count = 4000000000u;
  values->status = -2147479551L;
  values->size = 12;
  values->ratio = 0.25f;
  values->grid = {{1, 2}, {}, {3}};
  values->mask = {true, false};
  values->names = {"u", "\xC3\xA9"};
  tkFuzzSample sample(L"fit diverged \u00B5");
  sample.scale = 1.5;
  sample.samples = {0.5, -1e300};
  sample.words = {L"a", L"\U0001D11E"};
  sample.shape = tkFuzzSample::eSquare;
  sample.child = values;
  storePointer(folder + "sample_with_values", &sample);

  tkBadPointer badPointer(L"points is null");
  storePointer(folder + "bad_pointer", &badPointer);
  tkArchive::UnknownVersion unknownVersion("ccal/lnsc/xflnsc", 34);
  storePointer(folder + "unknown_version", &unknownVersion);
  tkProcedureFailure failure(static_cast<long>(static_cast<std::int32_t>(0x80001001u)));
  storePointer(folder + "procedure_failure", &failure);
  tkMathError::Singular singular;
  storePointer(folder + "singular", &singular);
  storePointer(folder + "null", nullptr);

  FuzzSequence sequence;
  sequence.flag = true;
  sequence.byte = 7;
  sequence.small = -1;
  sequence.integer = 123456;
  sequence.count = 9;
  sequence.status = -1;
  sequence.size = 65536;
  sequence.ratio = -0.5f;
  sequence.length = 3.25;
  sequence.name = "plate";
  sequence.label = L"m\u00B2";
  sequence.samples = {1.0, 2.0};
  sequence.grid = {{5}};
  sequence.mask = {false, true, true};
  sequence.words = {L"x"};
  sequence.shape = tkFuzzSample::eLine;
  sequence.sample = new tkFuzzSample(L"inner");
  tkArchive ar(folder + "sequence", tkArchive::eStore);
  ar || sequence;
  ar.flush();
  return 0;
}
