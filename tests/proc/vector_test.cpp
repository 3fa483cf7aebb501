// The containers of the procedural layer: growth, shrinking, ownership of nested vectors, copies
// and impossible sizes that must come back as statuses.
#include <gtest/gtest.h>
#include <proc/cstd_vector.h>

#include <cstdint>

namespace {

using Pairs = cstd_vector_ccal_crspPair2D3DWeighted;
using PairLists = cstd_vector_vector_ccal_crspPair2D3DWeighted;
using PairListsPerPlacement = cstd_vector_vector_vector_ccal_crspPair2D3DWeighted;

ccal_crspPair2D3DWeighted pairNumbered(double k) {
  return ccal_crspPair2D3DWeighted{{k, k + 0.5}, {10 * k, 10 * k + 1, 0.0}, 1.0 + k};
}

// Fills a two-level vector with lists of sizes[i] numbered pairs.
void fillLists(PairLists* lists, const std::vector<size_t>& sizes) {
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_resize(lists, sizes.size()),
            CSTD_STATUS_OK);
  Pairs* list = nullptr;
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_getBegin(lists, &list), CSTD_STATUS_OK);
  for (size_t i = 0; i < sizes.size(); ++i) {
    ASSERT_EQ(cstd_vector_ccal_crspPair2D3DWeighted_resize(&list[i], sizes[i]), CSTD_STATUS_OK);
    ccal_crspPair2D3DWeighted* pair = nullptr;
    ASSERT_EQ(cstd_vector_ccal_crspPair2D3DWeighted_getBegin(&list[i], &pair), CSTD_STATUS_OK);
    for (size_t k = 0; k < sizes[i]; ++k)
      pair[k] = pairNumbered(100.0 * i + k);
  }
}

TEST(ProcVector, GrowingKeepsContentsAndShrinkingKeepsThePrefix) {
  cstd_vectord values;
  ASSERT_EQ(cstd_vectord_construct(&values, 0), CSTD_STATUS_OK);
  for (size_t n = 1; n <= 1000; ++n) {
    ASSERT_EQ(cstd_vectord_resize(&values, n), CSTD_STATUS_OK);
    double* begin = nullptr;
    ASSERT_EQ(cstd_vectord_getBegin(&values, &begin), CSTD_STATUS_OK);
    begin[n - 1] = static_cast<double>(n);
  }
  ASSERT_EQ(cstd_vectord_resize(&values, 10), CSTD_STATUS_OK);
  size_t size = 0;
  ASSERT_EQ(cstd_vectord_getSize(&values, &size), CSTD_STATUS_OK);
  ASSERT_EQ(size, 10u);
  for (size_t i = 0; i < size; ++i)
    EXPECT_EQ(values.elements[i], i + 1.0);

  // Growing again must not resurrect the values that were cut off.
  ASSERT_EQ(cstd_vectord_resize(&values, 20), CSTD_STATUS_OK);
  for (size_t i = 10; i < 20; ++i)
    EXPECT_EQ(values.elements[i], 0.0) << "element " << i;
  EXPECT_EQ(cstd_vectord_destruct(&values), CSTD_STATUS_OK);
  EXPECT_EQ(values.elements, nullptr);
  EXPECT_EQ(values.size, 0u);
}

TEST(ProcVector, NestedVectorsOwnTheirChildren) {
  // Leaks or double frees here are caught by the sanitizer build.
  PairListsPerPlacement placements;
  ASSERT_EQ(cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_construct(&placements, 2),
            CSTD_STATUS_OK);
  PairLists* cameras = nullptr;
  ASSERT_EQ(cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_getBegin(&placements, &cameras),
            CSTD_STATUS_OK);
  fillLists(&cameras[0], {3, 0, 5});
  fillLists(&cameras[1], {7});
  EXPECT_EQ(cameras[0].size, 3u);
  EXPECT_EQ(cameras[0].elements[1].size, 0u) << "a new child vector starts empty";
  EXPECT_EQ(cameras[0].elements[2].elements[4].p.x, 204.0);
  ASSERT_EQ(cstd_vector_ccal_crspPair2D3DWeighted_resize(&cameras[1].elements[0], 9),
            CSTD_STATUS_OK);
  EXPECT_EQ(cameras[1].elements[0].elements[8].w, 1.0) << "new elements are default records";

  // Shrinking releases the children that are cut off, growing adds empty ones.
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_resize(&cameras[0], 1), CSTD_STATUS_OK);
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_resize(&cameras[0], 2), CSTD_STATUS_OK);
  EXPECT_EQ(cameras[0].elements[0].size, 3u);
  EXPECT_EQ(cameras[0].elements[1].size, 0u);

  // Growing the outer level moves the children; their contents must survive the move.
  ASSERT_EQ(cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_resize(&placements, 50),
            CSTD_STATUS_OK);
  cameras = placements.elements;
  EXPECT_EQ(cameras[1].elements[0].elements[6].P.y, 61.0);
  EXPECT_EQ(cameras[49].size, 0u);

  ASSERT_EQ(cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_destruct(&placements),
            CSTD_STATUS_OK);
}

TEST(ProcVector, CopiesAreDeepAndCompareEqual) {
  PairLists original;
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_construct(&original, 0), CSTD_STATUS_OK);
  fillLists(&original, {2, 4});
  PairLists copy;
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_constructCopy(&copy, &original),
            CSTD_STATUS_OK);
  int32_t equal = 0;
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_compareEqual(&copy, &original, &equal),
            CSTD_STATUS_OK);
  EXPECT_EQ(equal, 1);

  copy.elements[1].elements[3].w = -1.0;
  EXPECT_EQ(original.elements[1].elements[3].w, 104.0) << "the copy shares storage";
  cstd_vector_vector_ccal_crspPair2D3DWeighted_compareEqual(&copy, &original, &equal);
  EXPECT_EQ(equal, 0);

  // Assignment replaces the contents (also when the sizes differ) and tolerates self-assignment.
  PairLists other;
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_construct(&other, 5), CSTD_STATUS_OK);
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_assign(&other, &original), CSTD_STATUS_OK);
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_assign(&other, &other), CSTD_STATUS_OK);
  cstd_vector_vector_ccal_crspPair2D3DWeighted_compareEqual(&other, &original, &equal);
  EXPECT_EQ(equal, 1);

  for (PairLists* lists : {&original, &copy, &other}) {
    EXPECT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_destruct(lists), CSTD_STATUS_OK);
  }
}

TEST(ProcVector, ImpossibleSizesFailWithoutChangingTheVector) {
  cstd_vector_cmath_vect points;
  ASSERT_EQ(cstd_vector_cmath_vect_construct(&points, 4), CSTD_STATUS_OK);
  points.elements[3] = cmath_vect{1.5, 2.5};
  for (size_t request : {SIZE_MAX, SIZE_MAX / sizeof(cmath_vect) + 1, size_t{1} << 40}) {
    EXPECT_EQ(cstd_vector_cmath_vect_resize(&points, request), CSTD_STATUS_OUT_OF_MEMORY)
        << "request of " << request << " elements";
  }
  EXPECT_EQ(points.size, 4u);
  EXPECT_EQ(points.elements[3].y, 2.5);
  EXPECT_EQ(cstd_vector_cmath_vect_destruct(&points), CSTD_STATUS_OK);

  // A failed construction leaves a valid empty vector behind.
  cstd_vectord values;
  EXPECT_EQ(cstd_vectord_construct(&values, SIZE_MAX / 2), CSTD_STATUS_OUT_OF_MEMORY);
  EXPECT_EQ(values.size, 0u);
  EXPECT_EQ(cstd_vectord_destruct(&values), CSTD_STATUS_OK);
}

}  // namespace
