// OpenCV's side of the comparison, on the same correspondences as the library's (ccal_runner.h):
// cv::calibrateCamera per camera, cv::stereoCalibrate for the camera pairs of a rig, and
// cv::calibrateCamera with an intrinsic guess on 3-D points. Image points go in as OpenCV takes
// them (single precision); residuals are measured in double precision with cv::projectPoints.
// The caller sets cv::setNumThreads(1). OpenCV's exceptions pass through.
#ifndef CCAL_BENCH_COMPARE_OPENCV_RUNNER_H
#define CCAL_BENCH_COMPARE_OPENCV_RUNNER_H

#include "compare_metrics.h"
#include "compare_run.h"
#include "compare_sets.h"

#include <opencv2/core.hpp>

#include <string>

// Lens freedom given to OpenCV: none (k1..k3, p1, p2 fixed at 0), k1 alone (the library's radial
// freedom up to the centre of expansion and the skew), or OpenCV's default five coefficients.
enum class tkOpenCvLens { eNone, eK1, eDefault };

// The calibration flags of a lens freedom.
int tfOpenCvLensFlags(tkOpenCvLens lens);
// "none", "k1" or "k1,k2,p1,p2,k3".
std::string tfOpenCvLensName(tkOpenCvLens lens);
// The freedom closest to a library model: eNone for eNoDistortion, eK1 for eRadial, eDefault
// for eSineTan.
tkOpenCvLens tfOpenCvLensFor(tk2XformCalib2Defs::tkCalib2DistortionModel model);

// The projection of positions at Z = 1 by a camera matrix and distortion list.
tkIntrinsicProjection tfOpenCvProjection(const cv::Mat& cameraMatrix, const cv::Mat& distortion);

// cv::calibrateCamera on the usable views of one camera (tfUsableViews), default criteria.
tkCompareRow tfOpenCvPlanar(const tkCompareSet& set, int camera, tkOpenCvLens lens,
                            const tkCompareRow& identity, const tkRepeatPolicy& policy);

// cv::calibrateCamera per camera, then cv::stereoCalibrate (CALIB_USE_INTRINSIC_GUESS with the
// lens flags: a joint refinement of both cameras) of every camera c > 0 with the earlier camera
// it shares most views with, on the plate points both see. The timed call is all of these. The
// RMS pools stereoCalibrate's per-view figures; the largest residual uses view poses solved with
// cv::solvePnP on the first camera of each pair (stereoCalibrate does not return them).
tkCompareRow tfOpenCvRig(const tkCompareSet& set, tkOpenCvLens lens, const tkCompareRow& identity,
                         const tkRepeatPolicy& policy);

// cv::calibrateCamera with CALIB_USE_INTRINSIC_GUESS on the 3-D points of camera 0 (plate points
// carried into the world frame with the ground-truth placement poses) as one view; the guess is
// f = image width, principal point at the image centre.
tkCompareRow tfOpenCvPoints3d(const tkCompareSet& set, tkOpenCvLens lens,
                              const tkCompareRow& identity, const tkRepeatPolicy& policy);

#endif
