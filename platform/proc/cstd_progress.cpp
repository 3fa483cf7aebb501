#include <proc/cstd_progress.h>

namespace {
thread_local int32_t threadDoEstimateOnly = 0;
}  // namespace

cstd_status cstd_progressGetThreadDoEstimateOnly(int32_t* doEstimateOnly) {
  if (doEstimateOnly == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  *doEstimateOnly = threadDoEstimateOnly;
  return CSTD_STATUS_OK;
}

int32_t cstd_progressSetThreadDoEstimateOnly(int32_t doEstimateOnly) {
  int32_t previous = threadDoEstimateOnly;
  threadDoEstimateOnly = doEstimateOnly != 0 ? 1 : 0;
  return previous;
}
