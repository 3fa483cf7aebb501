#include <ccal/physical_at_z1_from_image_params.h>
#include <gtest/gtest.h>
#include <tk/assertion.h>
#include <tk/exception.h>
#include <tk/failure.h>
#include <tk/xform_calib2.h>

#include "camera/scene_models.h"
#include "support/geometry_expect.h"

#include <cmath>

namespace {

using Defs = tk2XformCalib2Defs;
using Model = Defs::tkCalib2DistortionModel;

int gAssertions = 0;
void countAssertion(const char*, int) {
  ++gAssertions;
}

// Counts the failed internal assertions reported while it lives.
class AssertionCounter {
 public:
  AssertionCounter() : previous_(tfSetAssertionHandler(countAssertion)) { gAssertions = 0; }
  ~AssertionCounter() { tfSetAssertionHandler(previous_); }
  int count() const { return gAssertions; }

 private:
  tkAssertionHandler previous_;
};

std::vector<tkVector<2>> imageGrid() {
  std::vector<tkVector<2>> points;
  for (double x = 0.0; x <= 640.0; x += 80.0)
    for (double y = 0.0; y <= 480.0; y += 60.0)
      points.emplace_back(x, y);
  return points;
}

}  // namespace

// ---- fields, defaults and the model's parameter list -----------------------------------------

TEST(IntrinsicModelFields, ConstructorsReadTheUpperTriangleAndTheListFollowsTheModel) {
  const tk2XformLinear xform(tkMatrix<2>(2.0, 0.5, 9.0, 3.0), tkVector<2>(-1.0, -2.0));
  const tkPhysicalAtZEquals1FromImageParams radial(xform, 0.25, {0.1, 0.2}, Defs::eRadial);
  EXPECT_EQ(radial.xform(), tk2XformLinear(tkMatrix<2>(2.0, 0.5, 0.0, 3.0), {-1.0, -2.0}));
  EXPECT_EQ(radial.k(), 0.25);
  const tkPhysicalAtZEquals1FromImageParams sineTan(xform, 0.25, {0.1, 0.2}, Defs::eSineTan);
  EXPECT_EQ(sineTan.k(), 0.0) << "k applies under the radial model only";
  // Changing the model resizes the list: sine-tangent defaults, radial keeps the first as k.
  tkPhysicalAtZEquals1FromImageParams model = sineTan;
  EXPECT_EQ(model.lensDistParams(), std::vector<double>(4, 1.0));
  model.lensDistParams({0.5, 2.0, 3.0, 4.0});
  model.distModel(Defs::eRadial);
  EXPECT_EQ(model.k(), 0.5);
  model.distModel(Defs::eNoDistortion);
  model.k(0.5);  // no effect without the radial model
  EXPECT_TRUE(model.lensDistParams().empty());
  model.distModel(Defs::eRadial);
  EXPECT_EQ(model.lensDistParams(), std::vector<double>{0.0});
}

TEST(IntrinsicModelFields, UnsupportedModelsAreReportedAsBrokenInvariants) {
  AssertionCounter assertions;
  EXPECT_EQ(tkPhysicalAtZEquals1FromImageParams::lensDistParamsSize(Defs::eTelecentric), 0);
  EXPECT_EQ(assertions.count(), 1);
  EXPECT_EQ(tkPhysicalAtZEquals1FromImageParams::lensDistParamsSize(Defs::eRadial), 1);
  EXPECT_EQ(assertions.count(), 1);

  tkPhysicalAtZEquals1FromImageParams model(
      tk2XformLinear(tkMatrix<2>(2.0, 0.0, 0.0, 4.0), {1.0, 1.0}), 0.0, {}, Defs::eTelecentric);
  const int before = assertions.count();
  EXPECT_EQ(model.warpPoint({1.0, 1.0}), tkVector<2>(3.0, 5.0));  // L(p), reported
  EXPECT_EQ(assertions.count(), before + 1);

  // A list set too short through the unchecked setter: reported, treated as no distortion.
  tkPhysicalAtZEquals1FromImageParams shortList;
  shortList.distModel(Defs::eSineTan);
  shortList.lensDistParams({1.0});
  EXPECT_EQ(shortList.warpPoint({0.3, 0.4}), tkVector<2>(0.3, 0.4));
  EXPECT_EQ(shortList.invWarpPoint({0.3, 0.4}), tkVector<2>(0.3, 0.4));
  EXPECT_EQ(assertions.count(), before + 3);
  EXPECT_THROW(shortList.computeParamsIntrinsic(), tkInvariantFailure);
}

// ---- warpPoint / invWarpPoint ----------------------------------------------------------------

// The round trip warpPoint / invWarpPoint: the lens kernel's (proc/lens_distortion_test), and
// the model against the calibrated transform that round-trips (below and
// camera_calibration_params_test).

TEST(IntrinsicModelWarp, RadialBeyondTheTurningPointGivesTheTurningPoint) {
  // x - x^3 never exceeds 0.385 (at x = 1/sqrt(3)): a radius of 2 is no value of it, and the
  // cubic inversion settles on the turning point, the distorted radius that comes closest.
  const tkPhysicalAtZEquals1FromImageParams model(tk2XformLinear(), -1.0, {});
  const tkVector<2> d = model.invWarpPoint({1.2, 1.6});
  EXPECT_TRUE(VectorsNear(d, tkVector<2>(0.6, 0.8) / std::sqrt(3.0), 1e-15));
}

TEST(IntrinsicModelWarp, SineTanCentreMapsToItselfAndUnreachableRadiusThrows) {
  const tkPhysicalAtZEquals1FromImageParams model = sceneModel(Defs::eSineTan);
  const tkVector<2> centre = model.centerOfExpansion();
  const tkVector<2> imageOfCentre = model.xform().inverse().mapPoint(centre);
  EXPECT_TRUE(VectorsNear(model.warpPoint(imageOfCentre), centre, 1e-15));
  EXPECT_TRUE(VectorsNear(model.invWarpPoint(centre), imageOfCentre, 1e-12));
  EXPECT_THROW(model.warpPoint({1e9, 1e9}), tkProcedureFailure);
}

TEST(IntrinsicModelWarp, SingularLinearPartGivesTheOrigin) {
  tkPhysicalAtZEquals1FromImageParams model;
  model.cameraScale(tkPair<double>(0.0, 1.0));
  EXPECT_EQ(model.invWarpPoint({0.3, 0.2}), tkVector<2>(0.0, 0.0));
  EXPECT_THROW(model.computeParamsIntrinsic(), tkMathError::Singular);
}

// ---- composition with image transforms -------------------------------------------------------

TEST(IntrinsicModelCompose, MapRightAndMapLeftComposeOnTheirSides) {
  const tkPhysicalAtZEquals1FromImageParams model = sceneModel(Defs::eRadial);
  // Upper-triangular T (binning and a crop offset) composes without loss.
  const tk2XformLinear T(tkMatrix<2>(2.0, 0.0, 0.0, 2.0), {16.0, 8.0});
  const tkPhysicalAtZEquals1FromImageParams right = model.mapRight(T);
  const tkPhysicalAtZEquals1FromImageParams left = model.mapLeft(T);
  for (const tkVector<2>& p : imageGrid()) {
    EXPECT_TRUE(VectorsNear(right.warpPoint(p), model.warpPoint(T.mapPoint(p)), 1e-14));
    EXPECT_TRUE(VectorsNear(left.xform().mapPoint(p), T.mapPoint(model.xform().mapPoint(p)), 0));
  }
  // A rotation is no upper-triangular map: the lower left element of the product is dropped.
  const double c = std::cos(0.5), s = std::sin(0.5);
  EXPECT_EQ(tkPhysicalAtZEquals1FromImageParams()
                .mapRight(tk2XformLinear(tkMatrix<2>(c, -s, s, c), {}))
                .xform(),
            tk2XformLinear(tkMatrix<2>(c, -s, 0.0, c), {}));
}

// ---- conversion to and from the calibrated transform -----------------------------------------

TEST(IntrinsicModelConvert, ComputeParamsIntrinsicGivesKAndTheListInOrder) {
  const tkPhysicalAtZEquals1FromImageParams sineTan(
      tk2XformLinear(tkMatrix<2>(0.5, 0.25, 0.0, 0.25), {1.0, 2.0}), {0.1, 0.2}, Defs::eSineTan,
      {0.4, 1.1, 0.6, 0.9});
  const tkCalib2ParamsIntrinsic K = sineTan.computeParamsIntrinsic();
  // L^-1 of [[0.5, 0.25], [0, 0.25]] + (1, 2) is [[2, -2], [0, 4]] + (2, -8).
  EXPECT_EQ(K.scale(), tkVector<2>(2.0, 4.0));
  EXPECT_EQ(K.skew(), -2.0);
  EXPECT_EQ(K.translation(), tkVector<2>(2.0, -8.0));
  EXPECT_EQ(K.params(), (std::vector<double>{0.4, 1.1, 0.6, 0.9, 0.1, 0.2}));
  tkPhysicalAtZEquals1FromImageParams radial(sineTan.xform(), 0.3, {0.1, 0.2});
  EXPECT_EQ(radial.computeParamsIntrinsic().params(), (std::vector<double>{0.3, 0.1, 0.2}));
  radial.distModel(Defs::eNoDistortion);
  EXPECT_TRUE(radial.computeParamsIntrinsic().params().empty());
}

TEST(IntrinsicModelConvert, ThroughTheCalibratedTransformAndBack) {
  for (Model m : scenes::areaScanModels()) {
    const tkPhysicalAtZEquals1FromImageParams source = sceneModel(m);
    tk2XformCalib2 xform;
    xform.init(source.computeParamsIntrinsic(), tkCalib2ParamsExtrinsic());
    tkPhysicalAtZEquals1FromImageParams target;
    target.centerOfExpansion({0.7, -0.3});
    tfConvert(xform, target);
    EXPECT_EQ(target.distModel(), m);
    EXPECT_EQ(target.lensDistParams(), source.lensDistParams()) << "model " << m;
    EXPECT_TRUE(XformsNear(target.xform(), source.xform(), 1e-15)) << "model " << m;
    if (m == Defs::eNoDistortion)
      EXPECT_EQ(target.centerOfExpansion(), tkVector<2>(0.7, -0.3));
    else
      EXPECT_EQ(target.centerOfExpansion(), source.centerOfExpansion()) << "model " << m;
    // The model and the transform's intrinsic part are one mapping.
    const tkCalib2ParamsIntrinsic K = xform.intrinsicParams();
    for (const tkVector<2>& p : imageGrid())
      EXPECT_TRUE(VectorsNear(K.invMapPoint(p), source.warpPoint(p), 1e-14)) << "model " << m;
  }
}
