// Steps shared by the rig procedures that start from per-view planar poses and propagate them
// between cameras and placements (the rig calibration and the rig pose estimation): the shape
// check of the placements, the plane view of a list, and the camera that speaks for a placement.
#ifndef CCAL_MULTICAM_POSE_PROPAGATION_H
#define CCAL_MULTICAM_POSE_PROPAGATION_H

#include "ccal/multicam/multiplate_data.h"

#include <tk/pair.h>
#include <tk/vector.h>

#include <cstddef>
#include <string>
#include <vector>

// Throws tkInvariantFailure unless there is a Z-rotation placement (the first defines the world
// frame), every placement holds nC camera lists and every weight is finite and >= 0; countName
// names nC in the message ("zRotationPlacements[j].first.size() != " + countName, likewise
// "arbitraryPlacements[j]").
void tk_checkPlacementShapes(const tk_ZRotationData& zData, const tk_ArbitraryData& aData,
                             std::size_t nC, const std::wstring& countName);

// (image point, plate X, Y) of every correspondence of a list, in order, for a planar pose or
// calibration (plate points lie on Z = 0; a stored z is dropped); weights are not used.
std::vector<tkPair<tkVector<2>>> tk_planeView(const tk_WeightedCrspList& list);

// The camera whose list of one placement (lists: one per camera) holds most points, the first
// one on ties; lists.size() when every list is empty.
std::size_t tk_cameraWithMostPoints(const std::vector<tk_WeightedCrspList>& lists);

#endif
