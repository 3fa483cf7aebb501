// The line-scan transform record: a line-scan camera (<proc/clnsc_lineScanCamera.h>) seen as a
// two-dimensional transform between the plate plane Z = 0 of the client frame and the image.
//
//   camera  the camera record
//   w2i     the direction of the record's mapping: 1 = physical (plate) -> image,
//           0 = image -> physical
//
// Plate -> image: at scan line v the plate point P = (X, Y, 0) has camera coordinates
// R·(P − v·M) + T; it is imaged on the line where it crosses the view plane. With m = R·M:
//   v = (r2·P + Ty)/m_y,  x_c = r1·P + Tx − v·m_x,  z_c = r3·P + Tz − v·m_z,
//   x = x_c/z_c,  x_d = x·(1 + k1·x² + k2·x⁴),  u = f·x_d + u0        (r_i the rows of R)
// Nothing is checked: m_y = 0 or z_c = 0 gives non-finite values, and a point behind the camera
// is mapped by the same formulas.
// Image -> plate: x = D⁻¹((u − u0)/f) on the monotone branch of the lens polynomial through 0,
// then the plate point on the line seen by pixel u at scan line v (a 2x2 linear system). Both
// coordinates are NaN when no x on that branch reaches x_d or the system is singular.
//
// Default value: the default camera and w2i = 1; it maps (X, Y) to (u, v) = (X, Y) and is linear.
// Record functions (<proc/cstd_record.h>): copies are member-wise; compareEqual is 1 when the
// w2i flags are equal and the cameras compare equal (tolerant, see clnsc_lineScanCamera.h).
// Every function returns CSTD_STATUS_BAD_ARGUMENT for a null pointer and then writes nothing.
#ifndef PROC_CLNSC_XFORMLINESCAN_H
#define PROC_CLNSC_XFORMLINESCAN_H

#include <proc/clnsc_lineScanCamera.h>
#include <proc/cmath_vect.h>
#include <proc/cstd_record.h>
#include <proc/cstd_vector.h>
#include <tk/export.h>

#include <stdint.h>

typedef struct clnsc_xformLineScan {
  clnsc_lineScanCameraUnconstrainedCalibrationParams camera;
  int32_t w2i;
} clnsc_xformLineScan;

CSTD_DECLARE_RECORD_FUNCTIONS(clnsc_xformLineScan)

// Fits the camera to point pairs: imagePoints[i] = (u, v) is the image of the plate point
// physicalPoints[i] = (X, Y). hasDistance = 1 gives the camera-to-target distance d (the height
// of the projection centre above the plate at scan line 0); 0 leaves the scale to convention.
// The record becomes the fitted camera with w2i = 1.
// The fit is a closed-form start and a Levenberg-Marquardt refinement of the image residual in
// the values the data determine, followed by the camera in closed form. The data fix the
// camera only up to three freedoms, so the result obeys these conventions:
//   - u0 = (u_min + u_max)/2 over the image points;
//   - the view plane is perpendicular to the plate (R12 = 0);
//   - with d the projection centre at scan line 0 is at height d (or, when no consistent camera
//     reaches d, at the largest height one can have); without d, f = 2·(u_max − u_min);
//   - the camera is on the +Z side of the plate, f > 0, the plate points are in front of it, the
//     quaternion has a > 0; at a given height the camera with the smaller f is taken.
// The lens model is chosen from the number of pairs: both coefficients from 8 pairs on, k1 from
// 7, a perspective without lens from 6 and an affine camera (linear record) from 4.
// Returns, checked in this order, with the record unchanged on failure:
//   CLNSC_STATUS_SIZE_MISMATCH   the lists differ in length
//   CLNSC_STATUS_TOO_FEW_POINTS  fewer than 4 pairs
//   CLNSC_STATUS_BAD_VALUE       a non-finite coordinate, or hasDistance with a distance that
//                                is not finite and positive
//   CLNSC_STATUS_SINGULAR        the data determine no camera
//   CSTD_STATUS_ABORTED          the calling thread's abort token was set during the refinement
TK_API cstd_status clnsc_xformLineScan_initPoints(clnsc_xformLineScan* record,
                                                  const cstd_vector_cmath_vect* imagePoints,
                                                  const cstd_vector_cmath_vect* physicalPoints,
                                                  int32_t hasDistance, double distance);

// *mapped = the record's mapping of point: plate -> image when w2i = 1, image -> plate otherwise.
TK_API cstd_status clnsc_xformLineScan_mapPoint(const clnsc_xformLineScan* record,
                                                const cmath_vect* point, cmath_vect* mapped);

// The camera's mappings in a fixed direction, whatever w2i says.
TK_API cstd_status clnsc_xformLineScan_mapPhysicalToImage(const clnsc_xformLineScan* record,
                                                          const cmath_vect* physical,
                                                          cmath_vect* image);
TK_API cstd_status clnsc_xformLineScan_mapImageToPhysical(const clnsc_xformLineScan* record,
                                                          const cmath_vect* image,
                                                          cmath_vect* physical);

// *isLinear = 1 when the mapping is affine: no lens (k1 = k2 = 0 exactly) and a depth z_c that
// does not change over the plate (|R20 − (m_z/m_y)·R10| and |R21 − (m_z/m_y)·R11| both at most
// 1e-12); else 0, also when a value is not finite. The same for both directions.
TK_API cstd_status clnsc_xformLineScan_getIsLinear(const clnsc_xformLineScan* record,
                                                   int32_t* isLinear);

// The affine map q -> J·q + t that touches the record's mapping at point. out[0], out[1] = t,
// out[2..5] = J row by row (J00, J01, J10, J11). For w2i = 0 it is the inverse of the plate ->
// image approximation taken at the plate point of point; a singular matrix gives NaN entries.
TK_API cstd_status clnsc_xformLineScan_getLinearXform(const clnsc_xformLineScan* record,
                                                      const cmath_vect* point, double out[6]);

// *inverse = record with the opposite w2i. inverse may be record.
TK_API cstd_status clnsc_xformLineScan_getInverse(const clnsc_xformLineScan* record,
                                                  clnsc_xformLineScan* inverse);

#endif
