// Internal: closed-form camera matrix from plane-to-image homographies (the absolute conic
// constraints of each view of a plane), with fall-backs for few or degenerate views.
#ifndef TK_CORE_CALIB2_INTRINSICS_CLOSED_FORM_H
#define TK_CORE_CALIB2_INTRINSICS_CLOSED_FORM_H

#include <Eigen/Core>

#include <vector>

// How much of the camera matrix the views determined.
enum class tk_IntrinsicsFreedom {
  eFull,           // focal lengths, skew and principal point (three or more views)
  eZeroSkew,       // skew fixed at 0 (two or more views)
  eSquareCentred,  // one focal length, zero skew, principal point at the image origin
  eNominal         // nothing determined: square pixels of focal length `nominalFocal`
};

struct tk_ClosedFormIntrinsics {
  Eigen::Matrix3d K = Eigen::Matrix3d::Identity();  // [[fx, skew, u0], [0, fy, v0], [0, 0, 1]]
  tk_IntrinsicsFreedom freedom = tk_IntrinsicsFreedom::eNominal;
};

// Camera matrix K from homographies H_v mapping plate (X, Y, 1) to image points, each view
// giving h1' B h2 = 0 and h1' B h1 = h2' B h2 for B = K^-T K^-1. The image frame must be
// normalised by the caller: origin at the centroid of the image points and unit spread, which
// also makes the origin the principal point of the centred fall-back.
// Tries, in order, the most general form the number of views allows (eFull with three views,
// eZeroSkew with two, eSquareCentred with one) and goes down the list whenever the linear
// solution is not a valid camera (B not definite, focal lengths not positive, aspect ratio,
// skew or principal point implausible: beyond a factor 10 or 10 spreads). eNominal ends the
// list: K = diag(nominalFocal, nominalFocal, 1).
tk_ClosedFormIntrinsics tk_intrinsicsFromHomographies(const std::vector<Eigen::Matrix3d>& views,
                                                      double nominalFocal);

#endif
