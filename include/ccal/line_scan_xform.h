// tk2XformLineScan: the two-dimensional transform of a line-scan camera, between the plate plane
// Z = 0 of the client frame (physical points) and the image, whose second coordinate counts
// scan lines (docs/line-scan.md).
//
// The object owns one procedural record clnsc_xformLineScan (<proc/clnsc_xformLineScan.h>) that
// holds the camera and the direction of the mapping (w2i: true = physical -> image) and does
// all the mathematics; the object forwards to it and raises every negative status through
// tfThrowExceptionOnFailure. A fitted transform maps physical -> image; inverse() maps back.
//
// Virtual operations in slot order: destructor, dispatchSerialize, reInit, loadSimple, mapPoint,
// isLinear, linearXform, composeBase (inherited), inverseBase, clone, serialize_.
//
// Archived form (current version 1): version byte 1, the tk2XformBase part, the camera record
// (version byte 0, the lens record (version byte 0, k1, k2, the tk1Xform (scale, offset)), the
// pose inverse as a tkXform<3>, the scanner motion as a tkVector<3>), then w2i as a bool.
// Version 0 archives (lens record, pose inverse, in-plate motion as a tkVector<2>, w2i) are
// read, with a motion component along Z of 0. Other versions throw tkArchive::UnknownVersion
// ("ccal/lnsc/xflnsc", 34); the camera and lens records throw it with ("ccal/lnsc/lnsccal3",
// 313) and ("ccal/lnsc/lnscdist", 96). Values that no camera can hold (not finite, lens scale
// 0) throw tkProcedureFailure (0x80001003).
#ifndef CCAL_LINE_SCAN_XFORM_H
#define CCAL_LINE_SCAN_XFORM_H

#include <ccal/export.h>
#include <ccal/line_scan_xform_errors.h>
#include <proc/clnsc_xformLineScan.h>
#include <tk/pair.h>
#include <tk/persistent.h>
#include <tk/rep_base.h>
#include <tk/vector.h>
#include <tk/xform.h>
#include <tk/xform2_base.h>
#include <tk/xform_calib2.h>

#include <vector>

class CCAL_API tk2XformLineScan : public tk2XformBase {
 public:
  // The default record: a camera one unit above the origin looking down, mapping physical (X, Y)
  // to image (X, Y); linear. Throws std::bad_alloc.
  tk2XformLineScan();
  tk2XformLineScan(const tk2XformLineScan& other);
  // A copy of a record filled by the procedural layer (camera and direction as they are). Throws
  // what tfThrowExceptionOnFailure raises for a record that cannot be copied.
  explicit tk2XformLineScan(const clnsc_xformLineScan& record);
  // Fitted to toImagePoints[i] = image of fromPhysicalPoints[i], as init(...) below.
  tk2XformLineScan(const std::vector<tkVector<2>>& toImagePoints,
                   const std::vector<tkVector<2>>& fromPhysicalPoints);
  tk2XformLineScan(const std::vector<tkVector<2>>& toImagePoints,
                   const std::vector<tkVector<2>>& fromPhysicalPoints,
                   double distanceFromCameraToTarget);
  // Copies the other model; assigning an object to itself does nothing.
  tk2XformLineScan& operator=(const tk2XformLineScan& other);
  // Never throws; a record that cannot be destructed is reported as a failed internal assertion
  // and left alone.
  ~tk2XformLineScan() override;

  // Fits the model: list1[i] (image point: u pixels, v scan line) is the image of list2[i]
  // (physical point on the plate). The optional value is the camera-to-target distance (client
  // units, > 0); without it the scale of the camera follows the default convention (the
  // mapping is the same either way). The object then maps physical -> image.
  // Failures (the object keeps its model):
  //   lists of different length  tkCalibrateLineScanCameraDefs::BadParams
  //                              ("imagePoints.size() != physicalPoints.size()")
  //   fewer than 4 points        tkCalibrateLineScanCameraDefs::InsufficientPoints
  //                              ("imagePoints.size() < 4")
  //   data that fix no camera    tkMathError::Singular (collinear plate points, ...)
  //   a non-finite coordinate or a distance that is not finite and > 0
  //                              tkProcedureFailure with errorNumber() 0x80001003
  //   an abort request           tkAttention::Aborted (checked between the stages of the
  //                              fit and before every trial step of its refinement)
  // The overloads with rms and maxResidual also give the residual figures of the fit over the
  // pairs: the root mean square and the largest length of list1[i] − mapPoint(list2[i])
  // (pixels; both 0 for empty lists, which the fit refuses anyway).
  void init(const std::vector<tkVector<2>>& list1, const std::vector<tkVector<2>>& list2);
  void init(const std::vector<tkVector<2>>& list1, const std::vector<tkVector<2>>& list2,
            double distanceFromCameraToTarget);
  void init(const std::vector<tkVector<2>>& list1, const std::vector<tkVector<2>>& list2,
            double& rms, double& maxResidual);
  void init(const std::vector<tkVector<2>>& list1, const std::vector<tkVector<2>>& list2,
            double distanceFromCameraToTarget, double& rms, double& maxResidual);
  // The same from pairs (first: image point, second: physical point).
  void init(const std::vector<tkPair<tkVector<2>>>& pairs);
  void init(const std::vector<tkPair<tkVector<2>>>& pairs, double distanceFromCameraToTarget);
  void init(const std::vector<tkPair<tkVector<2>>>& pairs, double& rms, double& maxResidual);
  void init(const std::vector<tkPair<tkVector<2>>>& pairs, double distanceFromCameraToTarget,
            double& rms, double& maxResidual);

  // The mapping of p in the object's direction (physical -> image when w2i()). Non-finite
  // results where the geometry has none (see <proc/clnsc_xformLineScan.h>); never throws for a
  // valid record.
  tkVector<2> mapPoint(const tkVector<2>& p) const override;
  // True when the mapping is affine (no lens, constant depth over the plate).
  bool isLinear() const override;
  // The affine transform touching the mapping at p.
  tk2XformLinear linearXform(const tkVector<2>& p) const override;
  // The same camera mapping the other way.
  tk2XformLineScan inverse() const;
  tkPtrHandle<tk2XformBase> inverseBase() const override;
  tkPtrHandle<tk2XformBase> clone() const override;

  // Equal cameras (values within 1e-12 relative, rotations up to the sign of the quaternion) and
  // the same direction.
  bool operator==(const tk2XformLineScan& other) const;
  bool operator!=(const tk2XformLineScan& other) const { return !(*this == other); }

  // True when the object maps physical -> image.
  bool w2i() const;
  // The record (read only; valid while the object lives).
  const clnsc_xformLineScan* lineScan() const { return record_; }

  // rms = (RMS of the x residuals, RMS of the y residuals) of toImagePoints[i] −
  // mapPoint(fromPhysicalPoints[i]). Empty lists give NaN in both. Throws
  // tk2XformLineScanDefs::BadParams ("toImagePoints.size() != fromPhysicalPoints.size()") for
  // lists of different length.
  void computeRmsResiduals(const std::vector<tkVector<2>>& toImagePoints,
                           const std::vector<tkVector<2>>& fromPhysicalPoints,
                           tkPair<double>& rms) const;

 protected:
  void dispatchSerialize(tkArchive& ar) override;

 private:
  virtual void serialize_(tkArchive& ar, unsigned char version);
  void fit(const std::vector<tkVector<2>>& list1, const std::vector<tkVector<2>>& list2,
           bool hasDistance, double distance);
  void residualFigures(const std::vector<tkVector<2>>& list1, const std::vector<tkVector<2>>& list2,
                       double& rms, double& maxResidual) const;

  static tkPersistent* make();
  static tk_Instantiator sExemplar;

  clnsc_xformLineScan* record_;
};

// The line-scan transform that a calibrated transform holds (one made by
// tfCalibrateLineScanCamera or by the conversion below). When src holds none, throws what
// tfThrowExceptionOnFailure raises for CLNSC_STATUS_NO_LINE_SCAN_TRANSFORM; dst is then unchanged.
CCAL_API void tfConvert(const tk2XformCalib2& src, tk2XformLineScan& dst);
// dst becomes the calibrated transform holding a copy of src: mapPoint maps image -> plate and
// invMapPoint plate -> image, whatever src.w2i(); its area-scan fields keep their default
// values. Throws std::bad_alloc (dst unchanged) when no copy can be made.
CCAL_API void tfConvert(const tk2XformLineScan& src, tk2XformCalib2& dst);

#endif
