// Quaternions of the procedural layer: c3d_quaternion (any value) and c3d_quaternionUnit (a unit
// quaternion, i.e. a rotation).
//
// Both hold q = a + b·i + c·j + d·k with a the real part, the same convention as tk3Quaternion in
// the core library; records are converted component by component in the order a, b, c, d.
//
//   c3d_quaternion:     four doubles a, b, c, d. Default value (1, 0, 0, 0).
//   c3d_quaternionUnit: one c3d_quaternion of norm 1 (to rounding). Default value (1, 0, 0, 0).
//                       Only c3d_quaternionUnit_initQuaternion writes it, so its value is always
//                       a unit quaternion.
//
// Record functions and type checks: <proc/cstd_record.h>.
#ifndef PROC_C3D_QUATERNION_H
#define PROC_C3D_QUATERNION_H

#include <proc/c3d_status.h>
#include <proc/cstd_record.h>

typedef struct c3d_quaternion {
  double a;
  double b;
  double c;
  double d;
} c3d_quaternion;

typedef struct c3d_quaternionUnit {
  c3d_quaternion quaternion;
} c3d_quaternionUnit;

CSTD_DECLARE_RECORD_FUNCTIONS(c3d_quaternion)
CSTD_DECLARE_RECORD_FUNCTIONS(c3d_quaternionUnit)

// Sets q to a + b·i + c·j + d·k as given. Returns CSTD_STATUS_BAD_ARGUMENT for a null pointer and
// C3D_STATUS_NOT_FINITE when a component is not finite (q unchanged).
TK_API cstd_status c3d_quaternion_initValues(c3d_quaternion* q, double a, double b, double c,
                                             double d);

// Reads the four components. Returns CSTD_STATUS_BAD_ARGUMENT when a pointer is null (nothing is
// written then).
TK_API cstd_status c3d_quaternion_getValues(const c3d_quaternion* q, double* a, double* b,
                                            double* c, double* d);

// Sets unit to source divided by its norm; the sign is kept (q and −q stay distinct values of the
// same rotation). A source whose squared norm is already within 4 machine epsilons of 1 is taken
// as it is, so handing a unit quaternion back and forth never changes its bits. Returns
// CSTD_STATUS_BAD_ARGUMENT for a null pointer, C3D_STATUS_NOT_FINITE for a non-finite component
// and C3D_STATUS_ZERO_QUATERNION for the zero quaternion (unit unchanged). A tiny or huge source
// is scaled before its norm is taken, so every finite non-zero quaternion is accepted.
TK_API cstd_status c3d_quaternionUnit_initQuaternion(c3d_quaternionUnit* unit,
                                                     const c3d_quaternion* source);

// Copies the unit quaternion into q. Returns CSTD_STATUS_BAD_ARGUMENT for a null pointer.
TK_API cstd_status c3d_quaternionUnit_getQuaternion(const c3d_quaternionUnit* unit,
                                                    c3d_quaternion* q);

#endif
