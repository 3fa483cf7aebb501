// Total-least-squares fit of a straight line to points of the plane.
//
// The fitted line passes through the (weighted) centroid of the points and runs along the
// principal axis of their scatter: it minimises the (weighted) sum of squared perpendicular
// distances. Points are in any consistent unit; the result is in the same unit.
#ifndef TK_LINE_FIT_H
#define TK_LINE_FIT_H

#include <tk/export.h>
#include <tk/vector.h>

#include <vector>

struct tkLineFitResult {
  // The weighted centroid of the points; it lies on the line.
  tkVector<2> point;
  // Unit direction of the line, oriented from the first point towards the last (of those with
  // positive weight); when they project onto the same place, the direction has x > 0, or
  // x == 0 and y > 0.
  tkVector<2> direction;
  // sqrt(Σ w·d² / Σ w), d the perpendicular distance of a point from the line.
  double rms = 0.0;
};

// Fits a line to `points`, each of weight 1.
// Throws tkMathError::Singular when the line is not determined: fewer than two distinct points,
// or a scatter with no preferred direction (equal principal moments, e.g. the corners of a
// square). Throws tkInvariantFailure when a coordinate is not finite.
TK_API tkLineFitResult tfLineFit(const std::vector<tkVector<2>>& points);

// Fits a line to `points` with `weights` (one per point, finite and >= 0; a point of weight 0
// takes no part). Throws as above, and tkInvariantFailure when the sizes differ or a weight is
// negative or not finite.
TK_API tkLineFitResult tfLineFit(const std::vector<tkVector<2>>& points,
                                 const std::vector<double>& weights);

#endif
