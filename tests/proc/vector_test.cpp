// The containers of the procedural layer: growth, shrinking, ownership of nested vectors, copies
// and impossible sizes that must come back as statuses. Leaks and double frees are caught by the
// sanitizer build.
#include <gtest/gtest.h>
#include <proc/cstd_vector.h>

#include <cstdint>

namespace {

using Pairs = cstd_vector_ccal_crspPair2D3DWeighted;
using PairLists = cstd_vector_vector_ccal_crspPair2D3DWeighted;

// Fills a two-level vector with lists of sizes[i] pairs numbered 100 i + k.
void fillLists(PairLists* lists, const std::vector<size_t>& sizes) {
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_resize(lists, sizes.size()),
            CSTD_STATUS_OK);
  for (size_t i = 0; i < sizes.size(); ++i) {
    Pairs& list = lists->elements[i];
    ASSERT_EQ(cstd_vector_ccal_crspPair2D3DWeighted_resize(&list, sizes[i]), CSTD_STATUS_OK);
    for (size_t k = 0; k < sizes[i]; ++k) {
      const double n = 100.0 * i + k;
      list.elements[k] = ccal_crspPair2D3DWeighted{{n, n + 0.5}, {10 * n, 10 * n + 1, 0.0}, 1 + n};
    }
  }
}

TEST(ProcVector, GrowingKeepsContentsAndShrinkingKeepsThePrefix) {
  cstd_vectord values;
  ASSERT_EQ(cstd_vectord_construct(&values, 0), CSTD_STATUS_OK);
  for (size_t n = 1; n <= 1000; ++n) {
    ASSERT_EQ(cstd_vectord_resize(&values, n), CSTD_STATUS_OK);
    values.elements[n - 1] = static_cast<double>(n);
  }
  ASSERT_EQ(cstd_vectord_resize(&values, 10), CSTD_STATUS_OK);
  ASSERT_EQ(cstd_vectord_resize(&values, 20), CSTD_STATUS_OK);
  for (size_t i = 0; i < 20; ++i)
    EXPECT_EQ(values.elements[i], i < 10 ? i + 1.0 : 0.0)
        << "element " << i << ": growing again must not resurrect values that were cut off";
  EXPECT_EQ(cstd_vectord_destruct(&values), CSTD_STATUS_OK);
  EXPECT_EQ(values.elements, nullptr);
}

TEST(ProcVector, NestedVectorsOwnTheirChildrenThroughResizesAndCopies) {
  cstd_vector_vector_vector_ccal_crspPair2D3DWeighted placements;
  ASSERT_EQ(cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_construct(&placements, 2),
            CSTD_STATUS_OK);
  fillLists(&placements.elements[0], {3, 0, 5});
  fillLists(&placements.elements[1], {7});
  ASSERT_EQ(cstd_vector_ccal_crspPair2D3DWeighted_resize(&placements.elements[1].elements[0], 9),
            CSTD_STATUS_OK);
  EXPECT_EQ(placements.elements[1].elements[0].elements[8].w, 1.0) << "new elements are default";
  // Shrinking releases the children that are cut off, growing adds empty ones.
  PairLists& first = placements.elements[0];
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_resize(&first, 1), CSTD_STATUS_OK);
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_resize(&first, 2), CSTD_STATUS_OK);
  EXPECT_EQ(first.elements[0].size, 3u);
  EXPECT_EQ(first.elements[1].size, 0u);
  // Growing the outer level moves the children; their contents must survive the move.
  ASSERT_EQ(cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_resize(&placements, 50),
            CSTD_STATUS_OK);
  EXPECT_EQ(placements.elements[1].elements[0].elements[6].P.y, 61.0);
  PairLists& moved = placements.elements[0];

  // Copies are deep and compare equal; assignment replaces the contents, also onto itself.
  PairLists copy, other;
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_constructCopy(&copy, &moved),
            CSTD_STATUS_OK);
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_construct(&other, 5), CSTD_STATUS_OK);
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_assign(&other, &moved), CSTD_STATUS_OK);
  ASSERT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_assign(&other, &other), CSTD_STATUS_OK);
  int32_t equal = 0;
  cstd_vector_vector_ccal_crspPair2D3DWeighted_compareEqual(&other, &moved, &equal);
  EXPECT_EQ(equal, 1);
  copy.elements[0].elements[2].w = -1.0;
  EXPECT_EQ(moved.elements[0].elements[2].w, 3.0) << "the copy shares storage";
  cstd_vector_vector_ccal_crspPair2D3DWeighted_compareEqual(&copy, &moved, &equal);
  EXPECT_EQ(equal, 0);
  for (PairLists* lists : {&copy, &other})
    EXPECT_EQ(cstd_vector_vector_ccal_crspPair2D3DWeighted_destruct(lists), CSTD_STATUS_OK);
  EXPECT_EQ(cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_destruct(&placements),
            CSTD_STATUS_OK);
}

TEST(ProcVector, ImpossibleSizesFailWithoutChangingTheVector) {
  cstd_vector_cmath_vect points;
  ASSERT_EQ(cstd_vector_cmath_vect_construct(&points, 4), CSTD_STATUS_OK);
  points.elements[3] = cmath_vect{1.5, 2.5};
  for (size_t request : {SIZE_MAX, SIZE_MAX / sizeof(cmath_vect) + 1, size_t{1} << 40})
    EXPECT_EQ(cstd_vector_cmath_vect_resize(&points, request), CSTD_STATUS_OUT_OF_MEMORY)
        << "request of " << request << " elements";
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
