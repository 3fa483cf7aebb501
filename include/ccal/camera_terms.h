// The library's camera models in the terms calibration users know from other tools: the camera
// matrix K = [[fx, skew, cx], [0, fy, cy], [0, 0, 1]] (pixels), the lens model's name, and the
// lens, pose and motion of a line-scan camera. Reports, result files and language bindings take
// these terms from here, so that every front end shows the same numbers.
//
// K maps the distorted normalised plane to the image (pixels): x = fx*d.x + skew*d.y + cx,
// y = fy*d.y + cy. It is the K of tk2XformCalib2 as stored, and the inverse of the linear map L
// (image -> distorted normalised plane) of tkPhysicalAtZEquals1FromImageParams.
#ifndef CCAL_CAMERA_TERMS_H
#define CCAL_CAMERA_TERMS_H

#include <ccal/export.h>
#include <ccal/line_scan_xform.h>
#include <ccal/physical_at_z1_from_image_params.h>
#include <tk/calib2_params.h>
#include <tk/vector.h>
#include <tk/xform_calib2.h>

#include <string>

struct tkCameraMatrixTerms {
  double fx = 1.0, fy = 1.0;  // focal lengths, pixels
  double cx = 0.0, cy = 0.0;  // principal point, pixels
  double skew = 0.0;          // K(0, 1), pixels
};

// K of an intrinsic part (scale, skew and translation as they are). Never throws.
CCAL_API tkCameraMatrixTerms tfCameraMatrixTerms(const tkCalib2ParamsIntrinsic& intrinsic);
// K = L^-1 of an intrinsic model. A zero camera scale gives non-finite values. Never throws.
CCAL_API tkCameraMatrixTerms tfCameraMatrixTerms(const tkPhysicalAtZEquals1FromImageParams& model);
// Sets the linear part of model to L = K^-1 (lens model, lens values and centre of expansion
// are kept). Throws tkInvariantFailure, model unchanged, when fx or fy is 0 or a value is not
// finite.
CCAL_API void tfSetCameraMatrixTerms(tkPhysicalAtZEquals1FromImageParams& model,
                                     const tkCameraMatrixTerms& terms);

// "radial", "sine-tan", "none" or "telecentric"; nullptr for a value that names no model.
CCAL_API const char* tfDistortionModelName(tk2XformCalib2Defs::tkCalib2DistortionModel model);
// The model a name above stands for. Returns false, model unchanged, for any other text.
CCAL_API bool tfDistortionModelFromName(const std::string& name,
                                        tk2XformCalib2Defs::tkCalib2DistortionModel& model);

// A line-scan camera (docs/line-scan.md): lens u = offset + scale*(x + k1*x^3 + k2*x^5) of the
// normalised coordinate x along the sensor line, the pose client -> camera at scan line 0, and
// the scanner motion.
struct tkLineScanTerms {
  double offset = 0.0, scale = 0.0;  // u0 and f, pixels
  double k1 = 0.0, k2 = 0.0;
  double quaternion[4] = {1.0, 0.0, 0.0, 0.0};  // rotation client -> camera (a, b, c, d)
  tkVector<3> translation;                      // of the same transform
  tkVector<3> centre;                           // projection centre at scan line 0 (client)
  tkVector<3> motion;                           // client units per scan line
};

// The terms of a line-scan transform. Never throws.
CCAL_API tkLineScanTerms tfLineScanTerms(const tk2XformLineScan& lineScan);
// The terms of the line-scan transform a calibrated transform holds. Returns false, terms
// unchanged, when it holds none (an area-scan or telecentric camera). Never throws.
CCAL_API bool tfLineScanTerms(const tk2XformCalib2& xform, tkLineScanTerms& terms);

#endif
