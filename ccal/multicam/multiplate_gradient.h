// The gradient column F shared by the multi-plate solvers (one camera, a rig, and rig poses with
// fixed intrinsics).
//
// Parameter column x: ccal/problem/parameter_layout.h (the calibration option with nC camera
// blocks, or poseOnly).
//
// F is the gradient of E = Σ w·|p − π_c(pose_j(P))|² over every placement, camera and
// correspondence (analytic form: the intrinsic term of crsp_gradient_terms.h and the pose terms
// read off point-ray accumulators, error measured at Z = 1). Under eSineTan (calibration only)
// F[m] = (E(x + δe_m) − E(x − δe_m)) / δ with δ = 1e-8, E the image cost.
//
// Block selection for the block Jacobian: index i ≥ 0 selects the camera, Z-rotation placement or
// arbitrary placement whose block holds parameter i; only the observations of that camera (every
// placement) or of that placement (every camera; a Z-rotation selection drops all arbitrary
// placements and the reverse) are counted. In the numerical path the difference of row m is taken
// over the observations both selected and reached by parameter m: the others cancel exactly in
// E(x + δe_m) − E(x − δe_m), so leaving them out changes the value only by rounding.
#ifndef CCAL_MULTICAM_MULTIPLATE_GRADIENT_H
#define CCAL_MULTICAM_MULTIPLATE_GRADIENT_H

#include "ccal/problem/parameter_layout.h"

#include <ccal/multicamera_calibration_params.h>
#include <proc/c3d_ptRayGenericPoly.h>
#include <proc/c3d_ptRayZRotGenericPoly.h>
#include <proc/ccal_crspPair2D3DWeighted.h>
#include <tk/quaternion_xform.h>
#include <tk/xform.h>
#include <tk/xform_calib2.h>
#include <tk/zrotation_xform.h>

#include <cstddef>
#include <vector>

// One list of correspondences (a camera in a placement) as procedural records.
struct tk_MultiplateList {
  const ccal_crspPair2D3DWeighted* records = nullptr;
  std::size_t count = 0;
};

// The layout of x and views of the solver's data (not owned).
struct tk_MultiplateProblem {
  ccal::detail::ParameterLayout layout;
  std::vector<tk_MultiplateList> zLists;            // [j·nC + c], j = 0 .. nZ−1
  std::vector<tk_MultiplateList> aLists;            // [j·nC + c]
  std::vector<double> heights;                      // nZ entries, placement 0 included
  std::vector<tk_IntrinsicValues> fixedIntrinsics;  // poseOnly

  long size() const { return layout.size(); }
  // Unpacks x (throws tkMathError::Singular for a non-finite quaternion value).
  void unpack(const double* x, tk_MultiplateValues& values) const {
    layout.unpack(x, heights, fixedIntrinsics, values);
  }
};

// Work space of tfMultiplateGradient, kept between calls by a solver: once its vectors have
// grown to the problem's counts an evaluation allocates nothing, and only the cameras and
// placements of the selection are unpacked and accumulated. Used by one thread at a time.
struct tk_MultiplateScratch {
  tk_MultiplateValues values;
  std::vector<tkXform<3>> aXforms;  // the arbitrary poses as matrices
  std::vector<c3d_ptRayGenericPoly> cameras;
  std::vector<c3d_ptRayZRotGenericPoly> zPlacements;
  std::vector<c3d_ptRayGenericPoly> aPlacements;
};

// F at x for the selection of index (see above); f has problem.size() zero-filled entries.
// Returns 0 or the negative status of an abort request or of an accumulator; throws what the
// kernels throw (the solvers turn exceptions into a status).
long tfMultiplateGradient(const tk_MultiplateProblem& problem, const double* x, double* f,
                          long index, tk_MultiplateScratch& scratch);
// The same with a scratch of its own.
long tfMultiplateGradient(const tk_MultiplateProblem& problem, const double* x, double* f,
                          long index);

// E at x over every observation.
double tfMultiplateCost(const tk_MultiplateProblem& problem, const double* x);

#endif
