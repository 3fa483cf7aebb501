#include "ccal/multicam/pose_propagation.h"

#include <tk/exception.h>

#include <cmath>

void tk_checkPlacementShapes(const tk_ZRotationData& zData, const tk_ArbitraryData& aData,
                             std::size_t nC, const std::wstring& countName) {
  if (zData.empty())
    throw tkInvariantFailure(
        L"zRotationPlacements.empty(): the first Z-rotation placement defines the world frame");
  for (const auto& placement : zData)
    if (placement.first.size() != nC)
      throw tkInvariantFailure(L"zRotationPlacements[j].first.size() != " + countName);
  for (const auto& placement : aData)
    if (placement.size() != nC)
      throw tkInvariantFailure(L"arbitraryPlacements[j].size() != " + countName);
  // The solvers' residual blocks take weights >= 0 only; anything else would be garbage.
  const auto checkWeights = [](const std::vector<tk_WeightedCrspList>& lists) {
    for (const auto& list : lists)
      for (const auto& k : list)
        if (!(k.second >= 0.0 && std::isfinite(k.second)))
          throw tkInvariantFailure(L"a correspondence weight is negative or not finite");
  };
  for (const auto& placement : zData)
    checkWeights(placement.first);
  for (const auto& placement : aData)
    checkWeights(placement);
}

std::vector<tkPair<tkVector<2>>> tk_planeView(const tk_WeightedCrspList& list) {
  std::vector<tkPair<tkVector<2>>> view;
  view.reserve(list.size());
  for (const auto& k : list)
    view.push_back({k.first.first, tkVector<2>(k.first.second.x(), k.first.second.y())});
  return view;
}

std::size_t tk_cameraWithMostPoints(const std::vector<tk_WeightedCrspList>& lists) {
  std::size_t most = 0, who = lists.size();
  for (std::size_t c = 0; c < lists.size(); ++c)
    if (lists[c].size() > most) {
      most = lists[c].size();
      who = c;
    }
  return who;
}
