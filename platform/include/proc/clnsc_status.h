// Failure statuses of the line-scan procedural library (key 0x80).
//
// The first three are the argument checks and the singular case of the line-scan fit and of
// line-scan camera calibration; the calibration library registers a converter for them
// (convertLineScanCalibrationFailure: size mismatch and too few points become
// tkCalibrateLineScanCameraDefs exceptions, singular becomes tkMathError::Singular). The others
// have no converter: tfThrowExceptionOnFailure raises tkProcedureFailure carrying the status.
#ifndef PROC_CLNSC_STATUS_H
#define PROC_CLNSC_STATUS_H

#include <proc/cstd_status.h>

#include <stdint.h>

// The image and physical point lists differ in length.
#define CLNSC_STATUS_SIZE_MISMATCH ((cstd_status)0x80001000u)
// Fewer than 4 point pairs.
#define CLNSC_STATUS_TOO_FEW_POINTS ((cstd_status)0x80001001u)
// The data determine no camera (collinear plate points, constant image coordinates, level
// lines of u and v parallel, a camera in the plate), or the scanner motion has no component in
// the plate plane (alignment).
#define CLNSC_STATUS_SINGULAR ((cstd_status)0x80001002u)
// A value that is not finite where a finite one is needed, a camera-to-target distance that is
// not positive, or a lens scale of 0.
#define CLNSC_STATUS_BAD_VALUE ((cstd_status)0x80001003u)
// A calibrated-transform record holds no line-scan transform.
#define CLNSC_STATUS_NO_LINE_SCAN_TRANSFORM ((cstd_status)0x80001004u)

#endif
