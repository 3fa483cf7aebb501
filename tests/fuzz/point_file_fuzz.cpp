// libFuzzer target: parsing arbitrary text as a point-list file may only ever fail with
// tkPointFileError (never a crash, a sanitizer report or another exception), and whatever
// parses keeps the reader's promises: finite numbers, non-negative weights, one list of rows
// per camera in every placement.
#include "point_file.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "point_file_fuzz: %s\n", what);
  std::abort();
}

void check(bool ok, const char* what) {
  if (!ok)
    fail(what);
}

void checkParsed(const tkPointFile& file) {
  check(file.kind == "area-scan" || file.kind == "telecentric" || file.kind == "line-scan",
        "unknown kind accepted");
  check(!file.cameras.empty() && !file.placements.empty(), "empty cameras or placements");
  for (const tkPointPlacement& placement : file.placements) {
    check(placement.points.size() == file.cameras.size(), "a camera's rows are missing");
    check(std::isfinite(placement.height) && std::isfinite(placement.distanceToTarget),
          "a non-finite placement number");
    for (double value : placement.pose)
      check(std::isfinite(value), "a non-finite pose");
    for (const auto& rows : placement.points) {
      for (const tkPointRow& row : rows) {
        check(std::isfinite(row.image[0]) && std::isfinite(row.image[1]) &&
                  std::isfinite(row.physical[0]) && std::isfinite(row.physical[1]) &&
                  std::isfinite(row.physical[2]),
              "a non-finite coordinate");
        check(std::isfinite(row.weight) && row.weight >= 0.0, "a bad weight");
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    checkParsed(tfParsePointFile(text));
  } catch (const tkPointFileError&) {
  } catch (const std::exception& e) {
    fail(e.what());
  } catch (...) {
    fail("an exception of unknown type");
  }
  return 0;
}
