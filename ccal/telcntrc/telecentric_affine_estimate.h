// The linear first step of the weighted telecentric calibrations: a weighted least-squares fit of
// the affine map from home-frame points (plate points moved by their known poses) to image points.
//
// Affine estimate X (tkXform<3>): matrix rows a = (a0, a1, a2), b = (b0, b1, b2) and (0, 0, 1),
// translation (a3, b3, 0); it predicts the image point of a home-frame point H as
//   u = a.H + a3,   v = b.H + b3   (pixels).
// Under the telecentric camera model (image = K * (E * H).xy) the rows are those of K * R.xy and
// the offset is K * t.xy, which factorTelecentricEstimate (<telecentric_factorization.h>) splits.
#ifndef CCAL_TELCNTRC_TELECENTRIC_AFFINE_ESTIMATE_H
#define CCAL_TELCNTRC_TELECENTRIC_AFFINE_ESTIMATE_H

#include <ccal/telecentric_extrinsics_errors.h>
#include <tk/crsp_pair_weighted.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <vector>

// The argument checks shared by the weighted calibrations, in this order:
// tk_TelecentricCalibrationDefs::BadParams "poses.size() < 2", then
// tk_TelecentricCalibrationDefs::BadParams "poses.size() != correspondences.size()".
void checkTelecentricArguments(const std::vector<std::vector<tkCrspPairWeighted>>& correspondences,
                               const std::vector<tkXform<3>>& poses);

// estimate = the affine map of the weighted correspondences: for each pose i and each
// correspondence of list i, H = poses[i] applied to physical3D() is fitted to image() with the
// correspondence's weight (one fit per image coordinate, fitTelecentricImageCoordinate).
// Throws, before any other work, as checkTelecentricArguments; then
// tk_TelecentricCalibrationDefs::BadParams "weight < 0 || !std::isfinite(weight)" for a bad weight,
// tkInvariantFailure for a non-finite coordinate, tkMathError::Singular when the normal system's
// condition exceeds 1e12 (home-frame points in one plane, for example every pose the same, or
// fewer than four points of positive weight), tkAttention::Aborted (checked every 128 points and
// at the end). estimate is written only on success.
void estimateTelecentricXform(const std::vector<std::vector<tkCrspPairWeighted>>& correspondences,
                              const std::vector<tkXform<3>>& poses, tkXform<3>& estimate);

// coefficients = (c0, c1, c2, c3) with target ~ c0*x + c1*y + c2*z + c3 in the weighted
// least-squares sense. The points are first scaled by s = sqrt(n) / sigma, where n and sigma are
// the count and the population deviation of all x and y coordinates (two values per point; z is
// not counted), or by s = 1 when n <= 2 or sigma = 0; the coefficients are returned in unscaled
// coordinates. points, weights and targets have equal lengths (an internal assertion; the
// common prefix is used otherwise). Throws as solveWeightedAffineFit, and tkInvariantFailure for
// a non-finite coordinate.
void fitTelecentricImageCoordinate(const std::vector<tkVector<3>>& points,
                                   const std::vector<double>& weights,
                                   const std::vector<double>& targets,
                                   std::vector<double>& coefficients);

// The same fit without scaling: solves the 4x4 normal system sum w*r^T*r c = sum w*t*r with
// r = (x, y, z, 1) through tkNMMatrix::solve (threshold 1e12 on the condition number).
// coefficients is cleared, then receives four values. Throws tkMathError::Singular when the
// system's condition exceeds 1e12, tkInvariantFailure for non-finite sums, tkAttention::Aborted
// (checked before every 128th point, the first included).
void solveWeightedAffineFit(const std::vector<tkVector<3>>& points,
                            const std::vector<double>& weights, const std::vector<double>& targets,
                            std::vector<double>& coefficients);

#endif
