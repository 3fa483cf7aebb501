// Archive code of the line-scan camera record (clnsc_lineScanCameraUnconstrainedCalibrationParams)
// and the conversions of its pose to and from the core library's forms.
//
// Layout: version byte 0, the lens record (ccal/lnsc/lnscdist.h), the camera pose inverse
// (client -> camera at scan line 0) as a tkXform<3> (rotation matrix and translation), the
// scanner motion as a tkVector<3>. Another version byte throws tkArchive::UnknownVersion
// ("ccal/lnsc/lnsccal3", 313) before anything else is read. When loading, each component is set
// into the camera as soon as it is read: values the camera refuses (not finite, lens scale 0)
// throw tkProcedureFailure (0x80001003), and a pose whose matrix is not a rotation (within
// 1e-9) throws tkArchive::Corrupt.
#ifndef CCAL_LNSC_LNSCCAL3_H
#define CCAL_LNSC_LNSCCAL3_H

#include <proc/clnsc_lineScanCamera.h>
#include <tk/archive.h>
#include <tk/quaternion_xform.h>
#include <tk/vector.h>
#include <tk/xform.h>

tkArchive& operator||(tkArchive& ar, clnsc_lineScanCameraUnconstrainedCalibrationParams& camera);

// The camera's pose inverse in the core library's form (quaternion converted component by
// component, a, b, c, d).
tk3QuaternionXform tk_lineScanCameraPoseInverse(
    const clnsc_lineScanCameraUnconstrainedCalibrationParams& camera);

// Sets the camera's pose inverse from an archived transform. Throws tkArchive::Corrupt when the
// matrix is not a rotation within 1e-9 or a value is not finite, and what
// tfThrowExceptionOnFailure raises for a refused value; the camera is then unchanged.
void tk_setLineScanCameraPoseInverse(clnsc_lineScanCameraUnconstrainedCalibrationParams& camera,
                                     const tkXform<3>& poseInverse);

#endif
