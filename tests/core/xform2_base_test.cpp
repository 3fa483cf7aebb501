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

TEST(XformHandle, LastHandleDeletesTheObject) {
  {
    tkPtrHandle<tk2XformBase> first(new AffineXform(tk2XformLinear()));
    {
      const tkPtrHandle<tk2XformBase> second = first;
      first.reset();
      EXPECT_FALSE(first);
      EXPECT_EQ(AffineXform::live, 1) << "a copy of the handle keeps the object";
    }
    EXPECT_EQ(AffineXform::live, 0);
  }
  const AffineXform original(tk2XformLinear{});
  const tkPtrHandle<tk2XformBase> clone = original.clone();
  EXPECT_EQ(AffineXform::live, 2) << "a copied object starts without handles of its own";
}

TEST(XformComposition, AppliesTheArgumentFirst) {
  const AffineXform scale(tk2XformLinear(tkMatrix<2>(2, 0, 0, 3), tkVector<2>()));
  const AffineXform shift(tk2XformLinear(tkMatrix<2>::identity(), tkVector<2>(1, -1)));
  const tkPtrHandle<tk2XformBase> composed = scale.composeBase(shift);  // scale(shift(p))
  const tkVector<2> p(4, 5);
  EXPECT_EQ(composed->mapPoint(p), tkVector<2>(10, 12));
  EXPECT_TRUE(composed->isLinear());
  EXPECT_EQ(composed->linearXform(p).mapPoint(p), tkVector<2>(10, 12));
  EXPECT_EQ(composed->inverseBase()->mapPoint(tkVector<2>(10, 12)), p);
  EXPECT_EQ(composed->clone()->mapPoint(p), tkVector<2>(10, 12));

  std::vector<unsigned char> buffer;
  tkArchive ar(buffer, tkArchive::eStore);
  EXPECT_THROW(ar || *composed, tkArchive::CannotStore);
}

TEST(GeometryArchive, ValuesAreTheirDoublesInOrder) {
  struct Geometry {
    tkXform<3> pose;
    tk1Xform lens;
    tkVector<2> motion;
  };
  Geometry stored{tkXform<3>(tkMatrix<3>(1, 2, 3, 4, 5, 6, 7, 8, 9), tkVector<3>(10, 11, 12)),
                  tk1Xform(7800.0, 2048.0), tkVector<2>(-0.5, 0.25)};
  ArchiveBytes buffer;
  {
    tkArchive ar(buffer, tkArchive::eStore);
    ar || stored.pose || stored.lens || stored.motion;
  }
  ASSERT_EQ(buffer.size(), (12u + 2 + 2) * 8);
  std::vector<double> values(16);
  std::memcpy(values.data(), buffer.data(), buffer.size());  // little-endian hosts
  EXPECT_EQ(values,
            (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 7800, 2048, -0.5, 0.25}));
  Geometry loaded;
  {
    tkArchive ar(buffer, tkArchive::eLoad);
    ar || loaded.pose || loaded.lens || loaded.motion;
  }
  EXPECT_TRUE(loaded.pose == stored.pose && loaded.lens == stored.lens &&
              loaded.motion == stored.motion);

  buffer.resize(40);  // ends inside the matrix
  tkXform<3> truncated;
  tkArchive ar(buffer, tkArchive::eLoad);
  EXPECT_THROW(ar || truncated, tkArchive::Corrupt);
  EXPECT_EQ(truncated, tkXform<3>()) << "unchanged";
}

}  // namespace
