// Failure statuses of the 3-D geometry kernels (c3d_ functions).
//
// They carry the key 0x83 (bits 24-31). A null pointer argument is reported with the layer's
// generic CSTD_STATUS_BAD_ARGUMENT instead. The core library registers a converter for the key,
// so tfThrowExceptionOnFailure turns these statuses into typed exceptions:
//
//   C3D_STATUS_NOT_FINITE        tkInvariantFailure ("... a value that is not finite ...")
//   C3D_STATUS_RAY_IN_XY_PLANE   tkInvariantFailure ("... direction has no z component ...")
//   C3D_STATUS_ZERO_QUATERNION   tkMathError::Singular (as the core quaternion reports it)
#ifndef PROC_C3D_STATUS_H
#define PROC_C3D_STATUS_H

#include <proc/cstd_status.h>

#define C3D_STATUS_FAILURE_(code) ((cstd_status)(0x83000000u | (uint32_t)(code)))

// An input value (coordinate, weight, angle parameter, quaternion component) is NaN or infinite,
// or a result would overflow to infinity. Nothing is written.
#define C3D_STATUS_NOT_FINITE C3D_STATUS_FAILURE_(1)
// A ray direction with z = 0: no plane pair through the ray can be built from its slopes.
#define C3D_STATUS_RAY_IN_XY_PLANE C3D_STATUS_FAILURE_(2)
// The zero quaternion cannot be made a unit quaternion.
#define C3D_STATUS_ZERO_QUATERNION C3D_STATUS_FAILURE_(3)

#endif
