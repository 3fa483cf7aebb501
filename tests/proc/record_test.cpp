// Plain records (copies, comparison) and their type-tag checks.
#include <gtest/gtest.h>
#include <proc/ccal_crspPair2D3DWeighted.h>
#include <proc/cmath_xformLinear.h>
#include <proc/cstd_vector.h>

#include <cmath>

namespace {

TEST(ProcRecord, ComparisonIsByValueOfEachDouble) {
  cmath_xformLinear xform, copy;
  ASSERT_EQ(cmath_xformLinear_construct(&xform), CSTD_STATUS_OK);
  ASSERT_EQ(cmath_xformLinear_constructCopy(&copy, &xform), CSTD_STATUS_OK);
  copy.matrix[1][0] = 0.25;
  int32_t equal = 1;
  ASSERT_EQ(cmath_xformLinear_compareEqual(&copy, &xform, &equal), CSTD_STATUS_OK);
  EXPECT_EQ(equal, 0) << "every matrix element takes part in the comparison";

  ccal_crspPair2D3DWeighted a, b;
  ccal_crspPair2D3DWeighted_construct(&a);
  ccal_crspPair2D3DWeighted_construct(&b);
  a.P.z = -0.0;
  ccal_crspPair2D3DWeighted_compareEqual(&a, &b, &equal);
  EXPECT_EQ(equal, 1) << "-0.0 and 0.0 are the same value";
  a.w = b.w = std::nan("");
  ccal_crspPair2D3DWeighted_compareEqual(&a, &b, &equal);
  EXPECT_EQ(equal, 0) << "NaN equals nothing";
  EXPECT_EQ(ccal_crspPair2D3DWeighted_compareEqual(&a, nullptr, &equal), CSTD_STATUS_BAD_ARGUMENT);
}

TEST(ProcTypeCheck, AddressCheckAcceptsOnlyAlignedRecords) {
  cmath_xformLinear3 xform;
  EXPECT_EQ(csys_typeCheck_cmath_xformLinear3(&xform), CSTD_STATUS_OK);
  EXPECT_EQ(csys_typeCheck_cmath_xformLinear3(nullptr), CSTD_STATUS_TYPE_MISMATCH);
  alignas(double) unsigned char bytes[2 * sizeof(cmath_vect)] = {};
  const auto* misaligned = reinterpret_cast<const cmath_vect*>(bytes + 1);
  EXPECT_EQ(csys_typeCheck_cmath_vect(misaligned), CSTD_STATUS_TYPE_MISMATCH);
}

TEST(ProcTypeCheck, FunctionCheckAcceptsOnlyTheRecordsOwnDestructor) {
  csys_destructFunc generic = nullptr;
  EXPECT_EQ(csys_typeCheckFunc_cstd_vectord(cstd_vectord_destruct, &generic), CSTD_STATUS_OK);
  // The generic function releases the record it is given.
  cstd_vectord values;
  ASSERT_EQ(cstd_vectord_construct(&values, 8), CSTD_STATUS_OK);
  EXPECT_EQ(generic(&values), CSTD_STATUS_OK);
  EXPECT_EQ(values.elements, nullptr);
  // Another function of the same signature is not the record's destructor.
  csys_destructFunc untouched = nullptr;
  cstd_status (*impostor)(cstd_vectord*) = [](cstd_vectord*) { return CSTD_STATUS_OK; };
  EXPECT_EQ(csys_typeCheckFunc_cstd_vectord(impostor, &untouched), CSTD_STATUS_TYPE_MISMATCH);
  EXPECT_EQ(untouched, nullptr);
}

}  // namespace
