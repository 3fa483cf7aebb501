// The two-dimensional transform family's base: counted handles, the default composition, and
// the archive operators of the geometry values.
#include <gtest/gtest.h>
#include <tk/archive.h>
#include <tk/archive_geometry.h>
#include <tk/xform2_base.h>

#include "support/archive_expect.h"

#include <cstring>
#include <vector>

namespace {

// An affine transform of the plane, counting its live objects.
class AffineXform : public tk2XformBase {
 public:
  static int live;
  explicit AffineXform(const tk2XformLinear& xform) : xform_(xform) { ++live; }
  AffineXform(const AffineXform& other) : tk2XformBase(other), xform_(other.xform_) { ++live; }
  ~AffineXform() override { --live; }
  tkVector<2> mapPoint(const tkVector<2>& p) const override { return xform_.mapPoint(p); }
  bool isLinear() const override { return true; }
  tk2XformLinear linearXform(const tkVector<2>&) const override { return xform_; }
  tkPtrHandle<tk2XformBase> inverseBase() const override {
    return tkPtrHandle<tk2XformBase>(new AffineXform(xform_.inverse()));
  }
  tkPtrHandle<tk2XformBase> clone() const override {
    return tkPtrHandle<tk2XformBase>(new AffineXform(*this));
  }

 private:
  tk2XformLinear xform_;
};
int AffineXform::live = 0;

TEST(Xform2Base, HandlesShareTheObjectAndCompositionAppliesTheArgumentFirst) {
  {
    tkPtrHandle<tk2XformBase> first(new AffineXform(tk2XformLinear()));
    const tkPtrHandle<tk2XformBase> second = first;
    first.reset();
    EXPECT_EQ(AffineXform::live, 1) << "a copy of the handle keeps the object";
  }
  EXPECT_EQ(AffineXform::live, 0) << "the last handle deletes it";

  const AffineXform scale(tk2XformLinear(tkMatrix<2>(2, 0, 0, 3), tkVector<2>()));
  const AffineXform shift(tk2XformLinear(tkMatrix<2>::identity(), tkVector<2>(1, -1)));
  const tkPtrHandle<tk2XformBase> composed = scale.composeBase(shift);  // scale(shift(p))
  const tkVector<2> p(4, 5);
  EXPECT_EQ(composed->mapPoint(p), tkVector<2>(10, 12));
  EXPECT_TRUE(composed->isLinear());
  EXPECT_EQ(composed->linearXform(p).mapPoint(p), tkVector<2>(10, 12));
  EXPECT_EQ(composed->inverseBase()->mapPoint(tkVector<2>(10, 12)), p);
  std::vector<unsigned char> buffer;
  tkArchive ar(buffer, tkArchive::eStore);
  EXPECT_THROW(ar || *composed, tkArchive::CannotStore);
}

TEST(GeometryArchive, ValuesAreTheirDoublesInOrder) {
  const tkXform<3> pose(tkMatrix<3>(1, 2, 3, 4, 5, 6, 7, 8, 9), tkVector<3>(10, 11, 12));
  const tk1Xform lens(7800.0, 2048.0);
  const tkVector<2> motion(-0.5, 0.25);
  ArchiveBytes buffer;
  {
    tkArchive ar(buffer, tkArchive::eStore);
    tkXform<3> p = pose;
    tk1Xform l = lens;
    tkVector<2> m = motion;
    ar || p || l || m;
  }
  ASSERT_EQ(buffer.size(), (12u + 2 + 2) * 8);
  std::vector<double> values(16);
  std::memcpy(values.data(), buffer.data(), buffer.size());  // little-endian hosts
  EXPECT_EQ(values,
            (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 7800, 2048, -0.5, 0.25}));
  tkXform<3> p;
  tk1Xform l;
  tkVector<2> m;
  {
    tkArchive ar(buffer, tkArchive::eLoad);
    ar || p || l || m;
  }
  EXPECT_TRUE(p == pose && l == lens && m == motion);
  // Cut archives: see tests/reliability.
}

}  // namespace
