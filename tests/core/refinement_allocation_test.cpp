// The single-camera refinement's iterations allocate nothing: evaluation of F, K and the cost, the
// step (under eSineTan the least-squares QR and the geodesic correction) and the trials.
#include <gtest/gtest.h>

#include "allocation_probe.h"
#include "ccal/problem/parameter_layout.h"
#include "ccal/single/calibration_distortion_solver.h"
#include "support/single_camera_scene.h"

namespace {

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

class RefinementAllocation : public ::testing::TestWithParam<Model> {};

TEST_P(RefinementAllocation, IterationsAllocateNothing) {
  const tkCameraCalibrationParams camera = scene::Camera(GetParam());
  scene::Correspondences data = scene::Observe(camera, 400, 0.1, 5);
  for (auto& c : data)
    c = {{(c.first.first - tkVector<2>(800.0, 600.0)) / 1500.0, c.first.second / 640.0}, 1.0};
  tkCameraCalibrationParams start = camera;
  start.physicalAtZEquals1FromImageParams(camera.physicalAtZEquals1FromImageParams().mapRight(
      tk2XformLinear(tkMatrix<2>(1500.0, 0.0, 0.0, 1500.0), tkVector<2>(800.0, 600.0))));
  start.cameraPoseInverse(tk3QuaternionXform(camera.cameraPoseInverse().quat(),
                                             camera.cameraPoseInverse().trans() / 640.0));
  tk3DCalibrationDistortionSolver solver(GetParam());
  tkNMMatrix x0(solver.getSize(), 1);
  solver.unitValIndex(ccal::detail::ParameterLayout::packCameraBlock(start, x0.data()));
  x0(2, 0) *= 1.01;  // somewhere to go
  solver.correspondences(data);
  solver.nIter(3);
  solver.setX(x0);
  solver.minimize();  // the first minimisation sizes the work space
  solver.setX(x0);
  AllocationProbe probe;
  solver.minimize();
  EXPECT_EQ(probe.largest(), 0u);
  EXPECT_EQ(solver.iterationsDone(), 3);
}

INSTANTIATE_TEST_SUITE_P(Models, RefinementAllocation,
                         ::testing::Values(tk2XformCalib2Defs::eRadial,
                                           tk2XformCalib2Defs::eSineTan));

}  // namespace
