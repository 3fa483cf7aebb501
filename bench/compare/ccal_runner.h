// The library's side of the OpenCV comparison. Each function calibrates one set as the row
// `identity` describes, times the call (compare_run.h), and fills the row's outcome; the
// figures are measured on the result of the last call. Exceptions of the library pass through
// (tfRunIsolated turns them into rows).
#ifndef CCAL_BENCH_COMPARE_CCAL_RUNNER_H
#define CCAL_BENCH_COMPARE_CCAL_RUNNER_H

#include "compare_run.h"
#include "compare_sets.h"

// The placements in which camera `camera` sees at least 10 points (the fewest the per-view
// estimates of both libraries accept with room to spare), in file order.
std::vector<int> tfUsableViews(const tkPointFile& file, int camera);

// Rig calibration of one camera from its planar views: the first usable view is the world frame
// (a Z-rotation placement at height 0), every other usable view an arbitrary placement, so the
// library knows no more than OpenCV's calibrateCamera does. Model: the set's.
tkCompareRow tfCcalPlanar(const tkCompareSet& set, int camera, const tkCompareRow& identity,
                          const tkRepeatPolicy& policy);

// Rig calibration of every camera of the set with the file's placements (Z-rotation placements
// with their heights). Intrinsic errors are the worst camera's; relative pose errors the worst
// camera's against camera 0.
tkCompareRow tfCcalRig(const tkCompareSet& set, const tkCompareRow& identity,
                       const tkRepeatPolicy& policy);

// The single-camera driver on the 3-D points of camera 0: plate points carried into the world
// frame with the ground-truth placement poses, no plate views. Needs a set with ground truth.
tkCompareRow tfCcalPoints3d(const tkCompareSet& set, const tkCompareRow& identity,
                            const tkRepeatPolicy& policy);

#endif
