#include <proc/cstd_assert.h>

#include <atomic>
#include <cstdio>

namespace {

void writeToStandardError(const char* file, int line) {
  std::fprintf(stderr, "internal assertion failed: %s:%d\n", file, line);
}

std::atomic<cstd_assertHandler> currentHandler{&writeToStandardError};

}  // namespace

void cstd_assert_(const char* file, int line) {
  cstd_assertHandler handler = currentHandler.load(std::memory_order_acquire);
  handler(file != nullptr ? file : "?", line);
}

cstd_assertHandler cstd_assert_setHandler(cstd_assertHandler handler) {
  if (handler == nullptr)
    handler = &writeToStandardError;
  return currentHandler.exchange(handler, std::memory_order_acq_rel);
}
