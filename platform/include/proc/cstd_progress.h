// The estimate-only flag of the calling thread's progress reporting.
//
// When an application asks only for an estimate of the work (tkProgressScope in
// <tk/progress.h> with estimateOnly true), computations report how much work they would do and
// return without computing. The flag lives here so that procedural code can read it too.
#ifndef PROC_CSTD_PROGRESS_H
#define PROC_CSTD_PROGRESS_H

#include <proc/cstd_status.h>
#include <tk/export.h>

#include <stdint.h>

// *doEstimateOnly = 1 when the calling thread runs in estimate-only mode, else 0.
// Returns CSTD_STATUS_BAD_ARGUMENT when doEstimateOnly is null.
TK_API cstd_status cstd_progressGetThreadDoEstimateOnly(int32_t* doEstimateOnly);

// Sets the calling thread's flag (any non-zero value means 1) and returns the previous value.
// Used by tkProgressScope, which restores the previous value when it ends.
TK_API int32_t cstd_progressSetThreadDoEstimateOnly(int32_t doEstimateOnly);

#endif
