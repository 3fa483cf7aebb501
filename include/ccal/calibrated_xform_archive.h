// Archived form of the calibrated transform tk2XformCalib2: any calibrated camera (area-scan,
// telecentric or line-scan) moves through a tkArchive with one operator, and a set of cameras as
// a std::vector<tk2XformCalib2> (a 32-bit count, then each transform).
//
// Layout, version 0 (encodings in docs/archive-format.md):
//   unsigned char  version, 0
//   bool           holds a line-scan transform
//   area-scan and telecentric (false):
//     tkVector<2>  scale of K (fx, fy)          K: distorted normalised plane -> image, pixels
//     double       skew of K
//     tkVector<2>  translation of K (cx, cy)
//     int32        distortion model: 1 sine-tan, 4 none, 5 radial, 7 telecentric
//     std::vector<double>  its parameter list (radial: k, cx, cy; sine-tan: p0..p3, cx, cy)
//     tkXform<3>   E, world -> camera (rotation matrix row by row, then translation)
//   line-scan (true):
//     the line-scan camera record as tk2XformLineScan archives it (version byte 0, lens record,
//     pose inverse, scanner motion), then its w2i flag (bool).
//
// Storing writes the current version; it throws tkArchive::CannotStore only where the archive's
// own encodings do. Loading reads every field first and then checks them as the transform's
// constructors do; the transform is replaced only when all of it is read and valid, so a failed
// load leaves it as it was. Failures: tkArchive::UnknownVersion ("ccal/camera/
// calibrated_xform_archive", 0) for another version byte, before anything else is read;
// tkArchive::Corrupt for a truncated archive, an invalid boolean or an unknown distortion model;
// tkInvariantFailure or tkMathError::Singular for a camera matrix, lens list or rotation that no
// camera can have (as tkCalib2ParamsIntrinsic and tk2XformCalib2::extrinsicXform throw);
// tkProcedureFailure (0x80001003) or tkArchive::Corrupt for line-scan values that no camera can
// hold (as tk2XformLineScan throws).
#ifndef CCAL_CALIBRATED_XFORM_ARCHIVE_H
#define CCAL_CALIBRATED_XFORM_ARCHIVE_H

#include <ccal/export.h>
#include <tk/archive.h>
#include <tk/xform_calib2.h>

#include <cstddef>

CCAL_API tkArchive& operator||(tkArchive& ar, tk2XformCalib2& xform);

// The smallest archived transform (an area-scan camera without lens values) takes 146 bytes:
// vectors of transforms check their count against it before allocating.
template <>
struct tk_ArchiveMinBytes<tk2XformCalib2> {
  static constexpr std::size_t value = 146;
};

#endif
