// The procedural telecentric calibration (ccal_calibrateTelecentricCamera): its result record,
// its statuses in their order and their conversion into exceptions, the edge-on camera and
// weights.
#include <ccal/telecentric_calibration_errors.h>
#include <gtest/gtest.h>
#include <proc/ccal_calibrateTelecentricCamera.h>
#include <tk/failure.h>
#include <tk/xform_calib2.h>

#include "support/telecentric_sets.h"
#include "telcntrc/telecentric_expect.h"

#include <cmath>
#include <utility>

namespace {

// The records of one call, built from a set and released at the end of the test.
struct Records {
  explicit Records(const tkTelecentricSet& set) {
    cstd_vector_vector_ccal_crspPair2D3DWeighted_construct(&lists, set.poses.size());
    cstd_vector_cmath_xformLinear3_construct(&poses, set.poses.size());
    ccal_calibrateTelecentricCameraParams_construct(&params);
    ccal_calibrateTelecentricCameraResult_construct(&result);
    for (std::size_t i = 0; i < set.poses.size(); ++i) {
      const auto& source = set.correspondences[i];
      cstd_vector_ccal_crspPair2D3DWeighted_resize(&lists.elements[i], source.size());
      for (std::size_t j = 0; j < source.size(); ++j) {
        const tkVector<2>& p = source[j].image();
        const tkVector<3>& P = source[j].physical3D();
        pair(i, j) = {{p.x(), p.y()}, {P.x(), P.y(), P.z()}, source[j].weight()};
      }
      const tkXform<3>& pose = set.poses[i];
      poses.elements[i].trans = {pose.trans().x(), pose.trans().y(), pose.trans().z()};
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
          poses.elements[i].matrix[r][c] = pose.matrix().element(r, c);
    }
  }
  ~Records() {
    ccal_calibrateTelecentricCameraResult_destruct(&result);
    cstd_vector_cmath_xformLinear3_destruct(&poses);
    cstd_vector_vector_ccal_crspPair2D3DWeighted_destruct(&lists);
  }
  Records(const Records&) = delete;
  Records& operator=(const Records&) = delete;

  // The status of the call, as its 32-bit pattern (statuses travel sign-extended).
  uint32_t calibrate() {
    return static_cast<uint32_t>(ccal_calibrateTelecentricCamera(&lists, &poses, &params, &result));
  }
  ccal_crspPair2D3DWeighted& pair(std::size_t pose, std::size_t index) {
    return lists.elements[pose].elements[index];
  }
  // Sets the weight of every pair to weight(pose, index).
  template <class Weight>
  void weigh(Weight weight) {
    for (std::size_t i = 0; i < lists.size; ++i)
      for (std::size_t j = 0; j < lists.elements[i].size; ++j)
        pair(i, j).w = weight(i, j);
  }

  cstd_vector_vector_ccal_crspPair2D3DWeighted lists;
  cstd_vector_cmath_xformLinear3 poses;
  ccal_calibrateTelecentricCameraParams params;
  ccal_calibrateTelecentricCameraResult result;
};

uint32_t bits(cstd_status status) {
  return static_cast<uint32_t>(status);
}

class ProceduralTelecentric : public ::testing::Test {
 protected:
  const tkTelecentricSet& set_ = exactTelecentricSet();
};

}  // namespace

TEST(ProceduralTelecentricRecords, ResultCopiesAreDeep) {
  ccal_calibrateTelecentricCameraResult a, b, c;
  ccal_calibrateTelecentricCameraResult_construct(&a);
  cstd_vectord_resize(&a.poseRmsResiduals, 2);
  a.poseRmsResiduals.elements[1] = 0.25;
  a.calibratedXform.distortionModel = CCAL_DISTORTION_TELECENTRIC;
  ASSERT_EQ(ccal_calibrateTelecentricCameraResult_constructCopy(&b, &a), CSTD_STATUS_OK);
  ccal_calibrateTelecentricCameraResult_construct(&c);
  ASSERT_EQ(ccal_calibrateTelecentricCameraResult_assign(&c, &a), CSTD_STATUS_OK);
  EXPECT_EQ(ccal_calibrateTelecentricCameraResult_assign(&c, &c), CSTD_STATUS_OK);
  EXPECT_EQ(ccal_calibrateTelecentricCameraResult_assign(nullptr, &c), CSTD_STATUS_BAD_ARGUMENT);
  a.poseRmsResiduals.elements[1] = 0.5;  // the copies own their storage
  int32_t bEqualsC = 0, aEqualsB = 1;
  ccal_calibrateTelecentricCameraResult_compareEqual(&b, &c, &bEqualsC);
  ccal_calibrateTelecentricCameraResult_compareEqual(&a, &b, &aEqualsB);
  EXPECT_TRUE(bEqualsC == 1 && aEqualsB == 0);
  EXPECT_EQ(c.calibratedXform.distortionModel, CCAL_DISTORTION_TELECENTRIC);
  for (auto* record : {&a, &b, &c})
    EXPECT_EQ(ccal_calibrateTelecentricCameraResult_destruct(record), CSTD_STATUS_OK);
}

TEST_F(ProceduralTelecentric, StatusesComeInTheirOrderAndLeaveTheResultAlone) {
  // Each step breaks one more thing, which an earlier check finds: the status is always the
  // first check that fails.
  Records r(set_);
  const auto expectStatus = [&](cstd_status expected, const char* what) {
    EXPECT_EQ(r.calibrate(), bits(expected)) << what;
    EXPECT_EQ(r.result.poseRmsResiduals.size, 0u) << what;
    EXPECT_EQ(r.result.calibratedXform.distortionModel, CCAL_DISTORTION_NONE) << what;
  };
  for (std::size_t i = 1; i < r.poses.size; ++i)
    r.poses.elements[i] = r.poses.elements[0];
  expectStatus(CCAL_STATUS_TELECENTRIC_SINGULAR, "one plane");
  r.weigh([](std::size_t i, std::size_t j) { return i == 1 && j < 3 ? 1.0 : 0.0; });
  expectStatus(CCAL_STATUS_TELECENTRIC_TOO_FEW_POINTS, "three weighted points");
  r.poses.elements[2].matrix[1][1] = INFINITY;
  expectStatus(CCAL_STATUS_TELECENTRIC_BAD_VALUE, "pose not finite");
  r.pair(3, 9).w = -1.0;
  r.params.cameraHeight = NAN;  // not used: the flag is off
  expectStatus(CCAL_STATUS_TELECENTRIC_BAD_VALUE, "negative weight");
  r.params.useCameraHeight = 1;
  expectStatus(CCAL_STATUS_TELECENTRIC_BAD_PARAMS, "height not finite");
  r.params.useCameraHeight = 0;
  r.params.maxIterations = -1;
  expectStatus(CCAL_STATUS_TELECENTRIC_BAD_PARAMS, "negative iteration limit");
  cstd_vector_vector_ccal_crspPair2D3DWeighted_resize(&r.lists, 1);
  cstd_vector_cmath_xformLinear3_resize(&r.poses, 1);
  expectStatus(CCAL_STATUS_TELECENTRIC_TOO_FEW_POSES, "one pose");
  cstd_vector_vector_ccal_crspPair2D3DWeighted_resize(&r.lists, 5);
  expectStatus(CCAL_STATUS_TELECENTRIC_SIZE_MISMATCH, "a list too many");
  EXPECT_EQ(ccal_calibrateTelecentricCamera(&r.lists, &r.poses, nullptr, &r.result),
            CSTD_STATUS_BAD_ARGUMENT);
}

TEST_F(ProceduralTelecentric, CameraSeeingTheHomePlaneEdgeOnHasNoHeightRule) {
  // A camera whose optical axis lies in the home plane (a quarter turn about X) still sees the
  // tilted plates, but the depth of its origin cannot be set along the home Z axis.
  tkTelecentricSet edgeOn = set_;
  edgeOn.truth.cameraFromHome =
      tkXform<3>(tkMatrix<3>(1, 0, 0, 0, 0, -1, 0, 1, 0), tkVector<3>(2.0, 3.0, 0.0));
  for (std::size_t i = 0; i < edgeOn.poses.size(); ++i)
    for (tkCrspPairWeighted& c : edgeOn.correspondences[i])
      c.image(edgeOn.truth.image(edgeOn.poses[i].mapPoint(c.physical3D())));
  EXPECT_EQ(Records(edgeOn).calibrate(), bits(CCAL_STATUS_TELECENTRIC_EDGE_ON));
}

TEST_F(ProceduralTelecentric, WeightsMultiplyTheSquaredResiduals) {
  // Points moved far off with weight 0 change nothing but the largest residual of their pose;
  // doubling every weight changes nothing at all.
  Records reference(set_), weighted(set_);
  ASSERT_EQ(reference.calibrate(), bits(CSTD_STATUS_OK));
  weighted.weigh([](std::size_t i, std::size_t j) { return i == 2 && j == 4 ? 0.0 : 2.0; });
  weighted.pair(2, 4).p.x += 3.0;
  weighted.pair(2, 4).p.y += 4.0;
  ASSERT_EQ(weighted.calibrate(), bits(CSTD_STATUS_OK));
  EXPECT_LE(LargestMappingError(tk2XformCalib2(weighted.result.calibratedXform), set_), 1e-9);
  EXPECT_NEAR(weighted.result.poseMaxResiduals.elements[2], 5.0, 1e-9);
  EXPECT_NEAR(weighted.result.poseRmsResiduals.elements[2],
              reference.result.poseRmsResiduals.elements[2], 1e-10);
}

TEST(ProceduralTelecentricConversion, StatusesBecomeTheLibrarysExceptions) {
  using Defs = tkCalibrateTelecentricCameraDefs;
  const std::pair<cstd_status, const wchar_t*> badParams[] = {
      {CCAL_STATUS_TELECENTRIC_SIZE_MISMATCH, L"imagePointsPhysicalPoints.size() != poses.size()"},
      {CCAL_STATUS_TELECENTRIC_BAD_PARAMS,
       L"params.maxIterations < 0 || !std::isfinite(params.cameraHeight)"},
      {CCAL_STATUS_TELECENTRIC_BAD_VALUE, L"!std::isfinite(correspondence or pose) || weight < 0"},
      {CCAL_STATUS_TELECENTRIC_TOO_FEW_POINTS, L"points of positive weight < 4"}};
  for (const auto& c : badParams)
    EXPECT_TRUE(
        ThrowsWithMessage<Defs::BadParams>([&] { tfThrowExceptionOnFailure(c.first); }, c.second));
  EXPECT_TRUE(ThrowsWithMessage<Defs::InsufficientPoses>(
      [] { tfThrowExceptionOnFailure(CCAL_STATUS_TELECENTRIC_TOO_FEW_POSES); },
      L"poses.size() < 2"));
  EXPECT_THROW(tfThrowExceptionOnFailure(CCAL_STATUS_TELECENTRIC_SINGULAR), tkMathError::Singular);
  EXPECT_THROW(tfThrowExceptionOnFailure(CCAL_STATUS_TELECENTRIC_EDGE_ON), tkMathError::Singular);
  EXPECT_THROW(tfThrowExceptionOnFailure(CCAL_STATUS_TELECENTRIC_NUMERIC_FAILURE),
               tkProcedureFailure);
}
