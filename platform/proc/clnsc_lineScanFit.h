// The line-scan fit, in two stages (docs/line-scan.md, "Fitting"):
//
// 1. clnsc_fitImageModel: the mapping plate -> image in the values the data determine,
//      v = rowV·P~,   u = u0 + halfSpan·D_κ((numerator·P~)/(denominator·P~)),
//    with D_κ(y) = y·(1 + κ1·y² + κ2·y⁴), u0 the middle and halfSpan half the width of the used
//    range of u, and denominator·P~ > 0 at every point. A linear start and a Levenberg-Marquardt
//    refinement of the u residual on normalised data; the lens model follows the point count.
// 2. clnsc_cameraFromImageModel: the camera record that images the plate exactly so, under the
//    conventions that fix the three freedoms the data leave (upright view plane, scale from the
//    distance or by default, signs).
//
// clnsc_fitLineScanCamera runs the argument checks and both stages.
#ifndef PLATFORM_PROC_CLNSC_LINESCANFIT_H
#define PLATFORM_PROC_CLNSC_LINESCANFIT_H

#include <proc/clnsc_lineScanCamera.h>
#include <proc/cmath_vect.h>
#include <proc/cstd_vector.h>

#include <stddef.h>

struct clnsc_imageModel {
  double rowV[3];         // v = rowV·P~
  double numerator[3];    // a
  double denominator[3];  // b
  double u0;              // middle of the used range of u (pixels)
  double halfSpan;        // half the width of that range (pixels)
  double kappa1;          // lens coefficients of D_κ in the normalised image
  double kappa2;
};

// Fits n >= 4 finite pairs (image[i] is the image of the plate point plate[i]).
// CLNSC_STATUS_SINGULAR when the data determine no model, CSTD_STATUS_ABORTED when the caller
// asks for an abort (checked between the closed-form stages, between the lens models tried and
// before every trial step of the refinement); *model is written only on success.
cstd_status clnsc_fitImageModel(const cmath_vect* image, const cmath_vect* plate, size_t n,
                                clnsc_imageModel* model);

// The camera of a model; distance > 0 when hasDistance, else the default scale is used.
// CLNSC_STATUS_SINGULAR when no camera has that image; *camera is written only on success.
cstd_status clnsc_cameraFromImageModel(const clnsc_imageModel& model, bool hasDistance,
                                       double distance,
                                       clnsc_lineScanCameraUnconstrainedCalibrationParams* camera);

// The checks of clnsc_xformLineScan_initPoints (size, count, finite values and distance), then
// both stages. *camera is written only on success.
cstd_status clnsc_fitLineScanCamera(const cstd_vector_cmath_vect* imagePoints,
                                    const cstd_vector_cmath_vect* physicalPoints, bool hasDistance,
                                    double distance,
                                    clnsc_lineScanCameraUnconstrainedCalibrationParams* camera);

#endif
