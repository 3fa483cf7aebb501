// The record of a calibrated transform: a camera that maps image points (pixels) to points of the
// world plane Z = 0 and back. tk2XformCalib2 (<tk/xform_calib2.h>) wraps it and maps the points,
// through the camera model of the core library (or the line-scan transform's functions); the
// procedural layer only keeps, copies and compares the record.
//
// Frames and directions:
//   image (pixels)
//     <- imageFromDistorted (K) -- distorted normalised plane
//     <- lens distortion ------- position at Z = 1 of the camera frame (undistorted)
//     <- central projection ---- camera frame (X/Z, Y/Z)
//     <- cameraFromWorld (E) --- world frame; the calibrated plane is its Z = 0.
// Under the telecentric model (CCAL_DISTORTION_TELECENTRIC) the projection is orthographic: the
// camera point Q = E*P maps to K*(Q.x, Q.y), and no distortion applies.
//
// Fields, in record order:
//   imageFromDistorted   K, the affine map from the distorted normalised plane to the image; its
//                        lower-left matrix element is 0 for records built by the core library.
//                        The intrinsic camera model's linear map (image -> distorted plane) is
//                        its inverse (cmath_xformLinear_getInverse).
//   distortionModel      a CCAL_DISTORTION_* value of <proc/ccal_lens_distortion.h>.
//   distortionParamCount the number of valid entries of distortionParams.
//   distortionParams     the distortion list, in this order:
//                          radial (5):       k, cx, cy
//                          sine-tangent (1): p0, p1, p2, p3, cx, cy
//                          none (4), telecentric (7): empty
//                        (cx, cy) is the centre of expansion in the distorted normalised plane.
//                        Entries from distortionParamCount on are 0.
//   cameraFromWorld      E, the rigid transform world -> camera (rotation matrix, translation).
//   lineScan             an optional line-scan transform owned by the record, or null; when set,
//   lineScanOps          lineScanOps supplies its copy, release, comparison and mapping functions
//                        and points are mapped through it.
//
// Default value: K = identity, no distortion, E = identity, no line-scan transform.
// Record functions: <proc/cstd_record.h>; constructCopy and assign copy the line-scan transform
// through its ops (and may then fail with that status or CSTD_STATUS_OUT_OF_MEMORY); destruct
// releases it.
#ifndef PROC_CCAL_XFORMCALIB2_H
#define PROC_CCAL_XFORMCALIB2_H

#include <proc/ccal_lens_distortion.h>
#include <proc/cmath_vect.h>
#include <proc/cmath_xformLinear.h>
#include <proc/cstd_record.h>
#include <tk/export.h>

#include <stdint.h>

// Capacity of the distortion list.
#define CCAL_XFORMCALIB2_MAX_DISTORTION_PARAMS 8

// The record's distortion list does not fit its model (wrong count for the model).
#define CCAL_STATUS_XFORMCALIB2_BAD_PARAMS ((int32_t)0x82000004u)

// A line-scan transform record of the line-scan library; opaque here.
struct clnsc_xformLineScan;

// How a calibrated-transform record handles the line-scan transform it owns. The line-scan
// library provides one static table; the record keeps a pointer to it.
typedef struct ccal_xformCalib2_lineScanOps {
  // *copy = a new, separately owned copy of source.
  cstd_status (*clone)(const struct clnsc_xformLineScan* source, struct clnsc_xformLineScan** copy);
  // Destructs and frees a record obtained from clone or handed over by
  // ccal_xformCalib2_attachLineScan.
  cstd_status (*release)(struct clnsc_xformLineScan* record);
  cstd_status (*compareEqual)(const struct clnsc_xformLineScan* a,
                              const struct clnsc_xformLineScan* b, int32_t* equal);
  // Image point -> world plane point, and back.
  cstd_status (*mapPoint)(const struct clnsc_xformLineScan* record, const cmath_vect* image,
                          cmath_vect* plane);
  cstd_status (*invMapPoint)(const struct clnsc_xformLineScan* record, const cmath_vect* plane,
                             cmath_vect* image);
} ccal_xformCalib2_lineScanOps;

typedef struct ccal_xformCalib2 {
  cmath_xformLinear imageFromDistorted;
  int32_t distortionModel;
  int32_t distortionParamCount;
  double distortionParams[CCAL_XFORMCALIB2_MAX_DISTORTION_PARAMS];
  cmath_xformLinear3 cameraFromWorld;
  struct clnsc_xformLineScan* lineScan;
  const ccal_xformCalib2_lineScanOps* lineScanOps;
} ccal_xformCalib2;

CSTD_DECLARE_RECORD_FUNCTIONS(ccal_xformCalib2)

// The number of distortion values the model takes (3 radial, 6 sine-tangent, 0 none and
// telecentric), or -1 for an unknown model.
TK_API int32_t ccal_xformCalib2_distortionParamCount(int32_t model);

// Hands lineScan (may be null: detach) and its ops to the record, which owns it from then on and
// releases the transform it held before. ops must be non-null when lineScan is. Returns
// CSTD_STATUS_BAD_ARGUMENT (nothing changed, lineScan still the caller's) for a null record or
// for a transform without ops; otherwise the status of releasing the previous transform.
TK_API cstd_status ccal_xformCalib2_attachLineScan(ccal_xformCalib2* record,
                                                   struct clnsc_xformLineScan* lineScan,
                                                   const ccal_xformCalib2_lineScanOps* ops);

#endif
