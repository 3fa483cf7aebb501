// The problem of the multi-plate solvers (one camera, a rig, and rig poses with fixed
// intrinsics) and of single-camera refinement (one list in the world frame): the layout of the
// parameter column (ccal/problem/parameter_layout.h: the calibration option with nC camera
// blocks, poseOnly, or singleCamera) and views of the solver's data.
// F, K and the cost: multiplate_residuals.h.
#ifndef CCAL_MULTICAM_MULTIPLATE_PROBLEM_H
#define CCAL_MULTICAM_MULTIPLATE_PROBLEM_H

#include "ccal/problem/parameter_layout.h"

#include <proc/ccal_crspPair2D3DWeighted.h>

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

#endif
