// The calibrated-transform record: ownership of an attached line-scan transform through copies
// and assignment, comparison, and the statuses of malformed records.
#include <gtest/gtest.h>
#include <proc/ccal_xformCalib2.h>
#include <proc/cmath_xformLinear.h>

#include <cmath>

namespace {

// A stand-in for a line-scan transform: a heap object with one value, counted so that the tests
// see every copy and release. The record sees it only through the opaque pointer type.
struct FakeLineScan {
  double offset;
};

int gLiveLineScans = 0;
bool gFailClone = false;

const FakeLineScan* fake(const clnsc_xformLineScan* record) {
  return reinterpret_cast<const FakeLineScan*>(record);
}
clnsc_xformLineScan* newLineScan(double offset) {
  ++gLiveLineScans;
  return reinterpret_cast<clnsc_xformLineScan*>(new FakeLineScan{offset});
}

cstd_status fakeClone(const clnsc_xformLineScan* source, clnsc_xformLineScan** copy) {
  if (gFailClone)
    return CSTD_STATUS_OUT_OF_MEMORY;
  *copy = newLineScan(fake(source)->offset);
  return CSTD_STATUS_OK;
}
cstd_status fakeRelease(clnsc_xformLineScan* record) {
  delete reinterpret_cast<FakeLineScan*>(record);
  --gLiveLineScans;
  return CSTD_STATUS_OK;
}
cstd_status fakeCompare(const clnsc_xformLineScan* a, const clnsc_xformLineScan* b,
                        int32_t* equal) {
  *equal = fake(a)->offset == fake(b)->offset ? 1 : 0;
  return CSTD_STATUS_OK;
}
// Maps by adding the offset to both coordinates.
cstd_status fakeMap(const clnsc_xformLineScan* record, const cmath_vect* in, cmath_vect* out) {
  *out = cmath_vect{in->x + fake(record)->offset, in->y + fake(record)->offset};
  return CSTD_STATUS_OK;
}
cstd_status fakeInvMap(const clnsc_xformLineScan* record, const cmath_vect* in, cmath_vect* out) {
  *out = cmath_vect{in->x - fake(record)->offset, in->y - fake(record)->offset};
  return CSTD_STATUS_OK;
}
const ccal_xformCalib2_lineScanOps kFakeOps = {fakeClone, fakeRelease, fakeCompare, fakeMap,
                                               fakeInvMap};

class XformCalib2Record : public ::testing::Test {
 protected:
  void SetUp() override {
    gLiveLineScans = 0;
    gFailClone = false;
  }
  void TearDown() override { EXPECT_EQ(gLiveLineScans, 0) << "line-scan transforms leaked"; }
};

}  // namespace

TEST(XformLinearInverse, InvertsCameraSizedMatricesAndRejectsSingularOnes) {
  const cmath_xformLinear K{{320.0, 240.0}, {{800.0, 0.4}, {0.0, 790.0}}};
  cmath_xformLinear Ki;
  ASSERT_EQ(cmath_xformLinear_getInverse(&K, &Ki), CSTD_STATUS_OK);
  const double ix = 800.0 * 123.0 + 0.4 * -45.0 + 320.0, iy = 790.0 * -45.0 + 240.0;
  EXPECT_NEAR(Ki.matrix[0][0] * ix + Ki.matrix[0][1] * iy + Ki.trans.x, 123.0, 1e-12);
  EXPECT_NEAR(Ki.matrix[1][0] * ix + Ki.matrix[1][1] * iy + Ki.trans.y, -45.0, 1e-12);
  // Rank one, a zero row, a non-finite value; rows of wildly different magnitude are regular.
  for (const cmath_xformLinear& singular :
       {cmath_xformLinear{{0, 0}, {{1.0, 2.0}, {2.0, 4.0}}},
        cmath_xformLinear{{0, 0}, {{1.0, 2.0}, {0.0, 0.0}}},
        cmath_xformLinear{{NAN, 0}, {{1.0, 0.0}, {0.0, 1.0}}}}) {
    cmath_xformLinear untouched{{7, 7}, {{7, 7}, {7, 7}}};
    EXPECT_EQ(cmath_xformLinear_getInverse(&singular, &untouched), CMATH_STATUS_SINGULAR);
    EXPECT_EQ(untouched.trans.x, 7.0);
  }
  const cmath_xformLinear scaled{{0, 0}, {{1e-12, 0.0}, {0.0, 1e12}}};
  EXPECT_EQ(cmath_xformLinear_getInverse(&scaled, &Ki), CSTD_STATUS_OK);
}

TEST_F(XformCalib2Record, OwnsItsLineScanTransformThroughCopiesAndAssignment) {
  ccal_xformCalib2 a, b;
  ccal_xformCalib2_construct(&a);
  ccal_xformCalib2_construct(&b);
  ASSERT_EQ(ccal_xformCalib2_attachLineScan(&a, newLineScan(2.0), &kFakeOps), CSTD_STATUS_OK);
  clnsc_xformLineScan* refused = newLineScan(1.0);
  EXPECT_EQ(ccal_xformCalib2_attachLineScan(&a, refused, nullptr), CSTD_STATUS_BAD_ARGUMENT);
  fakeRelease(refused);  // a refused transform stays the caller's

  ccal_xformCalib2 copy;
  ASSERT_EQ(ccal_xformCalib2_constructCopy(&copy, &a), CSTD_STATUS_OK);
  EXPECT_NE(copy.lineScan, a.lineScan);
  EXPECT_EQ(gLiveLineScans, 2);
  int32_t equal = 0;
  ASSERT_EQ(ccal_xformCalib2_compareEqual(&copy, &a, &equal), CSTD_STATUS_OK);
  EXPECT_EQ(equal, 1);
  ASSERT_EQ(ccal_xformCalib2_compareEqual(&b, &a, &equal), CSTD_STATUS_OK);
  EXPECT_EQ(equal, 0);

  // A failed copy leaves the target unchanged.
  gFailClone = true;
  EXPECT_EQ(ccal_xformCalib2_assign(&b, &a), CSTD_STATUS_OUT_OF_MEMORY);
  EXPECT_EQ(b.lineScan, nullptr);
  gFailClone = false;
  ASSERT_EQ(ccal_xformCalib2_assign(&b, &a), CSTD_STATUS_OK);
  EXPECT_EQ(gLiveLineScans, 3);
  ASSERT_EQ(ccal_xformCalib2_assign(&b, &b), CSTD_STATUS_OK);
  // Assigning a plain record releases the transform held before.
  ccal_xformCalib2 plain;
  ccal_xformCalib2_construct(&plain);
  ASSERT_EQ(ccal_xformCalib2_assign(&copy, &plain), CSTD_STATUS_OK);
  EXPECT_EQ(copy.lineScan, nullptr);
  EXPECT_EQ(gLiveLineScans, 2);

  for (ccal_xformCalib2* r : {&a, &b, &copy, &plain})
    EXPECT_EQ(ccal_xformCalib2_destruct(r), CSTD_STATUS_OK);
}

TEST_F(XformCalib2Record, ComparesOnlyTheUsedDistortionValues) {
  ccal_xformCalib2 a, b;
  ccal_xformCalib2_construct(&a);
  a.distortionModel = CCAL_DISTORTION_RADIAL;
  a.distortionParamCount = 3;
  b = a;
  b.distortionParams[5] = 42.0;  // beyond the count
  b.distortionParams[2] = -0.0;
  int32_t equal = 0;
  ccal_xformCalib2_compareEqual(&a, &b, &equal);
  EXPECT_EQ(equal, 1);
  b.cameraFromWorld.trans.z = 1.0;
  ccal_xformCalib2_compareEqual(&a, &b, &equal);
  EXPECT_EQ(equal, 0);
}
