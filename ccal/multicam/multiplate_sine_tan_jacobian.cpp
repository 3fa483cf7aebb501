#include "ccal/multicam/multiplate_sine_tan_jacobian.h"

#include "ccal/single/sine_tan_cost.h"

#include <proc/csys_attention.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace {

using ccal::detail::CameraOffset;
using ccal::detail::ParameterLayout;

constexpr int kMaxPlacementBlock = 6;

// The plate -> world poses of one placement block moved by ±h along each value: [2i] at +h,
// [2i + 1] at −h.
struct MovedPlacement {
  int count = 0;   // values of the block (0 for placement 0)
  long start = 0;  // first parameter
  tkXform<3> moved[2 * kMaxPlacementBlock];
};

MovedPlacement movedZ(const tk_MultiplateProblem& pr, const double* x, long j, double h) {
  MovedPlacement out;
  if (j == 0)
    return out;
  out.count = 3;
  out.start = pr.layout.zRotationStart(j);
  double block[3] = {x[out.start], x[out.start + 1], x[out.start + 2]};
  for (int i = 0; i < 3; ++i) {
    for (int sign = 0; sign < 2; ++sign) {
      block[i] = x[out.start + i] + (sign == 0 ? h : -h);
      out.moved[2 * i + sign] =
          ParameterLayout::zRotationBlockPose(block, pr.heights[static_cast<std::size_t>(j)]);
    }
    block[i] = x[out.start + i];
  }
  return out;
}

MovedPlacement movedA(const tk_MultiplateProblem& pr, const double* x, long j, double h) {
  MovedPlacement out;
  out.count = 6;
  out.start = pr.layout.arbitraryStart(j);
  const int uvi = pr.layout.arbitraryUnitValIndices()[static_cast<std::size_t>(j)];
  double block[6];
  std::copy(x + out.start, x + out.start + 6, block);
  for (int i = 0; i < 6; ++i) {
    for (int sign = 0; sign < 2; ++sign) {
      block[i] = x[out.start + i] + (sign == 0 ? h : -h);
      out.moved[2 * i + sign] = ParameterLayout::arbitraryBlockPose(block, uvi).xform();
    }
    block[i] = x[out.start + i];
  }
  return out;
}

// Adds the observations of one list (camera block at column b, placement as given) to K.
void addList(const tk_SineTanCentralCameras& central, const tkXform<3>& plateToWorld,
             const MovedPlacement& placement, const tk_MultiplateList& list, long b, long nb,
             double h, long n, double* K) {
  tkVector<2> projected[2 * CameraOffset::kMaxSize];
  tkVector<2> g[CameraOffset::kMaxSize + kMaxPlacementBlock];
  long column[CameraOffset::kMaxSize + kMaxPlacementBlock];
  for (long i = 0; i < nb; ++i)
    column[i] = b + i;
  for (int i = 0; i < placement.count; ++i)
    column[nb + i] = placement.start + i;
  const long count = nb + placement.count;
  const double scale = 1.0 / (2.0 * h);
  for (std::size_t k = 0; k < list.count; ++k) {
    const ccal_crspPair2D3DWeighted& r = list.records[k];
    if (r.w == 0.0)
      continue;
    const tkVector<3> P(r.P.x, r.P.y, r.P.z);
    tfSineTanCentralImagePoints(central.at, plateToWorld.mapPoint(P), projected);
    for (long i = 0; i < nb; ++i)
      g[i] = (projected[2 * i] - projected[2 * i + 1]) * scale;
    for (int i = 0; i < placement.count; ++i)
      g[nb + i] = (tfSineTanImagePoint(central.at[0], placement.moved[2 * i].mapPoint(P)) -
                   tfSineTanImagePoint(central.at[0], placement.moved[2 * i + 1].mapPoint(P))) *
                  scale;
    const double w4 = 4.0 * r.w;
    for (long c = 0; c < count; ++c) {
      double* Kc = K + column[c] * n;
      const tkVector<2> gc = g[c] * w4;
      for (long i = 0; i < count; ++i)
        Kc[column[i]] += gc.dot(g[i]);
    }
  }
}

}  // namespace

long tfMultiplateSineTanJacobian(const tk_MultiplateProblem& pr, const double* x, double h,
                                 double* K) {
  const long n = pr.size();
  std::fill(K, K + n * n, 0.0);
  tk_MultiplateValues values;
  pr.unpack(x, values);
  const std::size_t nC = static_cast<std::size_t>(pr.layout.cameras());
  std::vector<MovedPlacement> zMoved, aMoved;
  for (long j = 0; j < pr.layout.zRotationPlacements(); ++j)
    zMoved.push_back(movedZ(pr, x, j, h));
  for (long j = 0; j < pr.layout.arbitraryPlacements(); ++j)
    aMoved.push_back(movedA(pr, x, j, h));
  std::vector<tkXform<3>> aPoses;
  for (const tk3QuaternionXform& pose : values.aPoses)
    aPoses.push_back(pose.xform());

  tk_SineTanCentralCameras central;
  for (std::size_t c = 0; c < nC; ++c) {
    const long status = csys_attention_check();
    if (status < 0)
      return status;
    const long b = pr.layout.cameraStart(static_cast<long>(c));
    const long size = pr.layout.cameraBlockSize();
    tfPrepareSineTanCentralCameras(x + b, pr.layout.cameraUnitValIndices()[c], h, central);
    for (std::size_t j = 0; j < static_cast<std::size_t>(pr.layout.zRotationPlacements()); ++j)
      addList(central, values.zPoses[j], zMoved[j], pr.zLists[j * nC + c], b, size, h, n, K);
    for (std::size_t j = 0; j < static_cast<std::size_t>(pr.layout.arbitraryPlacements()); ++j)
      addList(central, aPoses[j], aMoved[j], pr.aLists[j * nC + c], b, size, h, n, K);
  }
  return 0;
}
