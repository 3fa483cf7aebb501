// The family of two-dimensional transforms that are handled through a common interface:
// mapped through, linearised, inverted, composed, cloned and archived alike, whatever model
// they hold (the line-scan transform tk2XformLineScan is one).
//
// Objects are handed out through counted handles (tkPtrHandle<tk2XformBase>): inverseBase,
// clone and composeBase return new heap objects that the handle owns.
//
// Virtual operations, in slot order: destructor, dispatchSerialize, reInit, loadSimple (from
// tkPersistent), mapPoint, isLinear, linearXform, composeBase, inverseBase, clone. tkRepBase, the
// second base, has only its destructor.
//
// Archived form of the base part: version byte 0 and nothing else; a derived class writes its
// own version byte first, then this part, then its own fields.
#ifndef TK_XFORM2_BASE_H
#define TK_XFORM2_BASE_H

#include <tk/export.h>
#include <tk/persistent.h>
#include <tk/rep_base.h>
#include <tk/vector.h>
#include <tk/xform.h>

class TK_API tk2XformBase : public tkPersistent, public tkRepBase {
 public:
  ~tk2XformBase() override;

  // The image of point p.
  virtual tkVector<2> mapPoint(const tkVector<2>& p) const = 0;
  // True when mapPoint is affine everywhere (then linearXform is the same at every point).
  virtual bool isLinear() const = 0;
  // The affine transform that touches the mapping at p: same value and same derivative there.
  virtual tk2XformLinear linearXform(const tkVector<2>& p) const = 0;
  // The composition that applies `first`, then this transform: p -> mapPoint(first.mapPoint(p)).
  // The base version returns a transform holding clones of both; it is linear when both are,
  // its linearXform follows the chain rule, and its inverse composes the inverses in the
  // opposite order. That composed transform cannot be archived (storing it throws
  // tkArchive::CannotStore).
  virtual tkPtrHandle<tk2XformBase> composeBase(const tk2XformBase& first) const;
  // The inverse mapping, as a new object.
  virtual tkPtrHandle<tk2XformBase> inverseBase() const = 0;
  // A copy of this object with the same dynamic class.
  virtual tkPtrHandle<tk2XformBase> clone() const = 0;

 protected:
  tk2XformBase() = default;
  tk2XformBase(const tk2XformBase&) = default;
  tk2XformBase& operator=(const tk2XformBase&) = default;

  // Version byte 0; another version throws tkArchive::UnknownVersion("tk2XformBase", 0).
  void dispatchSerialize(tkArchive& ar) override;
  void serialize_(tkArchive& ar, unsigned char version);
};

#endif
