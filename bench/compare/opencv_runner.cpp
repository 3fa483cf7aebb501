#include "opencv_runner.h"

#include "ccal_runner.h"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <utility>

namespace {

struct ViewPoints {
  std::vector<std::vector<cv::Point3f>> object;  // what OpenCV is given
  std::vector<std::vector<cv::Point2f>> image;
  std::vector<std::vector<cv::Point3d>> objectD;  // what residuals are measured on
  std::vector<std::vector<cv::Point2d>> imageD;
};

void addView(ViewPoints& v, const std::vector<tkVector<3>>& object,
             const std::vector<tkVector<2>>& image) {
  v.object.emplace_back();
  v.image.emplace_back();
  v.objectD.emplace_back();
  v.imageD.emplace_back();
  for (std::size_t k = 0; k < object.size(); ++k) {
    const tkVector<3>& P = object[k];
    const tkVector<2>& p = image[k];
    v.object.back().emplace_back(static_cast<float>(P.x()), static_cast<float>(P.y()),
                                 static_cast<float>(P.z()));
    v.image.back().emplace_back(static_cast<float>(p.x()), static_cast<float>(p.y()));
    v.objectD.back().emplace_back(P.x(), P.y(), P.z());
    v.imageD.back().emplace_back(p.x(), p.y());
  }
}

void addRows(ViewPoints& v, const std::vector<tkPointRow>& rows) {
  std::vector<tkVector<3>> object;
  std::vector<tkVector<2>> image;
  for (const tkPointRow& row : rows) {
    object.push_back(row.physical);
    image.push_back(row.image);
  }
  addView(v, object, image);
}

void addResiduals(const std::vector<cv::Point3d>& object, const std::vector<cv::Point2d>& image,
                  const cv::Mat& rvec, const cv::Mat& tvec, const cv::Mat& K, const cv::Mat& D,
                  tkResidualStats& stats) {
  std::vector<cv::Point2d> projected;
  cv::projectPoints(object, rvec, tvec, K, D, projected);
  for (std::size_t k = 0; k < image.size(); ++k)
    stats.add(tkVector<2>(image[k].x, image[k].y), tkVector<2>(projected[k].x, projected[k].y));
}

cv::Size imageSize(const tkCompareSet& set) {
  return cv::Size(static_cast<int>(set.file.imageSize[0]), static_cast<int>(set.file.imageSize[1]));
}

void setIntrinsicErrors(tkCompareRow& row, const tkCompareSet& set, int camera, const cv::Mat& K,
                        const cv::Mat& D) {
  if (!set.hasTruth)
    return;
  const tkIntrinsicErrors e =
      tfIntrinsicErrors(tfOpenCvProjection(K, D), tfIntrinsicOf(set.truth.cameras[camera]),
                        set.file.imageSize[0], set.file.imageSize[1]);
  const auto worse = [](double current, double candidate) {
    return std::isnan(current) ? candidate : std::max(current, candidate);
  };
  row.focalRel = worse(row.focalRel, e.focalRel);
  row.axisPx = worse(row.axisPx, e.axisPx);
  row.mapRmsPx = worse(row.mapRmsPx, e.mapRmsPx);
}

tkXform<3> xformOf(const cv::Mat& R, const cv::Mat& t) {
  tkMatrix<3> m;
  tkVector<3> v;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      m.element(r, c, R.at<double>(r, c));
    v[r] = t.at<double>(r);
  }
  return tkXform<3>(m, v);
}

// Plate points seen by both cameras in a placement, as matched rows.
void sharedRows(const tkPointPlacement& placement, int a, int b, std::vector<tkPointRow>& rowsA,
                std::vector<tkPointRow>& rowsB) {
  std::map<std::pair<double, double>, const tkPointRow*> byPlatePoint;
  for (const tkPointRow& row : placement.points[b])
    byPlatePoint[{row.physical.x(), row.physical.y()}] = &row;
  rowsA.clear();
  rowsB.clear();
  for (const tkPointRow& row : placement.points[a]) {
    const auto found = byPlatePoint.find({row.physical.x(), row.physical.y()});
    if (found == byPlatePoint.end())
      continue;
    rowsA.push_back(row);
    rowsB.push_back(*found->second);
  }
}

}  // namespace

int tfOpenCvLensFlags(tkOpenCvLens lens) {
  switch (lens) {
    case tkOpenCvLens::eNone:
      return cv::CALIB_FIX_K1 | cv::CALIB_FIX_K2 | cv::CALIB_FIX_K3 | cv::CALIB_ZERO_TANGENT_DIST;
    case tkOpenCvLens::eK1:
      return cv::CALIB_FIX_K2 | cv::CALIB_FIX_K3 | cv::CALIB_ZERO_TANGENT_DIST;
    default:
      return 0;
  }
}

std::string tfOpenCvLensName(tkOpenCvLens lens) {
  switch (lens) {
    case tkOpenCvLens::eNone:
      return "none";
    case tkOpenCvLens::eK1:
      return "k1";
    default:
      return "k1,k2,p1,p2,k3";
  }
}

tkOpenCvLens tfOpenCvLensFor(tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  switch (model) {
    case tk2XformCalib2Defs::eNoDistortion:
      return tkOpenCvLens::eNone;
    case tk2XformCalib2Defs::eRadial:
      return tkOpenCvLens::eK1;
    default:
      return tkOpenCvLens::eDefault;
  }
}

tkIntrinsicProjection tfOpenCvProjection(const cv::Mat& cameraMatrix, const cv::Mat& distortion) {
  const cv::Mat K = cameraMatrix.clone(), D = distortion.clone();
  return [K, D](const std::vector<tkVector<2>>& positions) {
    std::vector<tkVector<2>> out;
    if (positions.empty())
      return out;
    std::vector<cv::Point3d> rays;
    for (const tkVector<2>& q : positions)
      rays.emplace_back(q.x(), q.y(), 1.0);
    std::vector<cv::Point2d> projected;
    cv::projectPoints(rays, cv::Mat::zeros(3, 1, CV_64F), cv::Mat::zeros(3, 1, CV_64F), K, D,
                      projected);
    for (const cv::Point2d& p : projected)
      out.emplace_back(p.x, p.y);
    return out;
  };
}

tkCompareRow tfOpenCvPlanar(const tkCompareSet& set, int camera, tkOpenCvLens lens,
                            const tkCompareRow& identity, const tkRepeatPolicy& policy) {
  tkCompareRow row = identity;
  ViewPoints v;
  for (int j : tfUsableViews(set.file, camera))
    addRows(v, set.file.placements[j].points[camera]);
  if (v.object.empty())
    throw std::runtime_error("the camera has no view of 10 or more points");
  cv::Mat K, D;
  std::vector<cv::Mat> rvecs, tvecs;
  const int flags = tfOpenCvLensFlags(lens);
  tfTimeCalls(
      [&] {
        K = cv::Mat();
        D = cv::Mat();
        cv::calibrateCamera(v.object, v.image, imageSize(set), K, D, rvecs, tvecs, flags);
      },
      policy, row);
  tkResidualStats stats;
  for (std::size_t k = 0; k < v.objectD.size(); ++k)
    addResiduals(v.objectD[k], v.imageD[k], rvecs[k], tvecs[k], K, D, stats);
  row.rms = stats.rms();
  row.largest = stats.largest;
  row.points = stats.count;
  row.views = static_cast<int>(v.object.size());
  setIntrinsicErrors(row, set, camera, K, D);
  row.ok = std::isfinite(row.rms);
  return row;
}

tkCompareRow tfOpenCvRig(const tkCompareSet& set, tkOpenCvLens lens, const tkCompareRow& identity,
                         const tkRepeatPolicy& policy) {
  tkCompareRow row = identity;
  const int nC = static_cast<int>(set.file.cameras.size());
  const int flags = tfOpenCvLensFlags(lens);
  const auto& placements = set.file.placements;

  std::vector<ViewPoints> single(nC);
  for (int c = 0; c < nC; ++c)
    for (int j : tfUsableViews(set.file, c))
      addRows(single[c], placements[j].points[c]);

  // Pairs: camera c with the earlier camera sharing most views of 10 or more common points.
  struct Pair {
    int first = -1, second = -1;
    ViewPoints a, b;
  };
  std::vector<Pair> pairs;
  for (int c = 1; c < nC; ++c) {
    Pair best;
    for (int p = 0; p < c; ++p) {
      Pair candidate;
      candidate.first = p;
      candidate.second = c;
      std::vector<tkPointRow> rowsA, rowsB;
      for (const tkPointPlacement& placement : placements) {
        sharedRows(placement, p, c, rowsA, rowsB);
        if (rowsA.size() < 10)
          continue;
        addRows(candidate.a, rowsA);
        addRows(candidate.b, rowsB);
      }
      if (candidate.a.object.size() > best.a.object.size())
        best = candidate;
    }
    if (best.first < 0)
      throw std::runtime_error("camera " + std::to_string(c) +
                               " shares no view with an earlier camera");
    pairs.push_back(best);
  }

  std::vector<cv::Mat> K(nC), D(nC);
  std::vector<cv::Mat> R(pairs.size()), T(pairs.size()), perView(pairs.size());
  tfTimeCalls(
      [&] {
        for (int c = 0; c < nC; ++c) {
          K[c] = cv::Mat();
          D[c] = cv::Mat();
          std::vector<cv::Mat> rvecs, tvecs;
          cv::calibrateCamera(single[c].object, single[c].image, imageSize(set), K[c], D[c], rvecs,
                              tvecs, flags);
        }
        for (std::size_t k = 0; k < pairs.size(); ++k) {
          const Pair& pair = pairs[k];
          cv::Mat E, F;
          cv::stereoCalibrate(pair.a.object, pair.a.image, pair.b.image, K[pair.first],
                              D[pair.first], K[pair.second], D[pair.second], imageSize(set), R[k],
                              T[k], E, F, perView[k], cv::CALIB_USE_INTRINSIC_GUESS | flags);
        }
      },
      policy, row);

  // RMS from stereoCalibrate's per-view figures; largest residual with re-solved view poses.
  double sumSquares = 0.0;
  long count = 0;
  tkResidualStats stats;
  std::vector<tkXform<3>> fromCamera0(nC);  // camera 0 -> camera c
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    const Pair& pair = pairs[k];
    for (std::size_t v = 0; v < pair.a.object.size(); ++v) {
      const double n = static_cast<double>(pair.a.object[v].size());
      const double e1 = perView[k].at<double>(static_cast<int>(v), 0);
      const double e2 = perView[k].at<double>(static_cast<int>(v), 1);
      sumSquares += n * (e1 * e1 + e2 * e2);
      count += 2 * static_cast<long>(n);
      cv::Mat rvec, tvec;
      cv::solvePnP(pair.a.objectD[v], pair.a.imageD[v], K[pair.first], D[pair.first], rvec, tvec);
      addResiduals(pair.a.objectD[v], pair.a.imageD[v], rvec, tvec, K[pair.first], D[pair.first],
                   stats);
      cv::Mat Rv;
      cv::Rodrigues(rvec, Rv);
      cv::Mat R2 = R[k] * Rv, t2 = R[k] * tvec + T[k], r2;
      cv::Rodrigues(R2, r2);
      addResiduals(pair.b.objectD[v], pair.b.imageD[v], r2, t2, K[pair.second], D[pair.second],
                   stats);
    }
    fromCamera0[pair.second] = xformOf(R[k], T[k]) * fromCamera0[pair.first];
  }
  row.rms = count > 0 ? std::sqrt(sumSquares / static_cast<double>(count))
                      : std::numeric_limits<double>::quiet_NaN();
  row.largest = stats.largest;
  row.points = count;
  row.cameras = nC;
  row.views = static_cast<int>(placements.size());
  for (int c = 0; c < nC; ++c)
    setIntrinsicErrors(row, set, c, K[c], D[c]);
  if (set.hasTruth)
    for (int c = 1; c < nC; ++c) {
      const tkRelativePoseErrors e =
          tfRelativePoseErrors(tkXform<3>(), fromCamera0[c], set.truth.cameras[0].worldToCamera,
                               set.truth.cameras[c].worldToCamera);
      row.relRotMrad = c == 1 ? e.rotationMrad : std::max(row.relRotMrad, e.rotationMrad);
      row.relTransPct = c == 1 ? e.translationPct : std::max(row.relTransPct, e.translationPct);
    }
  row.ok = std::isfinite(row.rms);
  row.note = "RMS over the pairs' shared views";
  return row;
}

tkCompareRow tfOpenCvPoints3d(const tkCompareSet& set, tkOpenCvLens lens,
                              const tkCompareRow& identity, const tkRepeatPolicy& policy) {
  if (!set.hasTruth)
    throw std::runtime_error("3-D points need the ground-truth placement poses");
  tkCompareRow row = identity;
  std::vector<tkVector<3>> object;
  std::vector<tkVector<2>> image;
  for (std::size_t j = 0; j < set.file.placements.size(); ++j)
    for (const tkPointRow& r : set.file.placements[j].points[0]) {
      object.push_back(set.truth.plateToWorld[j].mapPoint(r.physical));
      image.push_back(r.image);
    }
  ViewPoints v;
  addView(v, object, image);
  const double w = set.file.imageSize[0], h = set.file.imageSize[1];
  const int flags = cv::CALIB_USE_INTRINSIC_GUESS | tfOpenCvLensFlags(lens);
  cv::Mat K, D;
  std::vector<cv::Mat> rvecs, tvecs;
  tfTimeCalls(
      [&] {
        K = (cv::Mat_<double>(3, 3) << w, 0.0, w / 2, 0.0, w, h / 2, 0.0, 0.0, 1.0);
        D = cv::Mat::zeros(5, 1, CV_64F);
        cv::calibrateCamera(v.object, v.image, imageSize(set), K, D, rvecs, tvecs, flags);
      },
      policy, row);
  tkResidualStats stats;
  addResiduals(v.objectD[0], v.imageD[0], rvecs[0], tvecs[0], K, D, stats);
  row.rms = stats.rms();
  row.largest = stats.largest;
  row.points = stats.count;
  row.views = 1;
  setIntrinsicErrors(row, set, 0, K, D);
  row.ok = std::isfinite(row.rms);
  return row;
}
