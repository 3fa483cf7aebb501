#include <tk/archive.h>
#include <tk/xform2_base.h>

namespace {

// p -> second(first(p)). Holds clones of its parts, so it never shares state with the objects
// it was made from.
class tk_2XformComposition : public tk2XformBase {
 public:
  tk_2XformComposition(tkPtrHandle<tk2XformBase> second, tkPtrHandle<tk2XformBase> first)
      : second_(std::move(second)), first_(std::move(first)) {}

  tkVector<2> mapPoint(const tkVector<2>& p) const override {
    return second_->mapPoint(first_->mapPoint(p));
  }
  bool isLinear() const override { return first_->isLinear() && second_->isLinear(); }
  tk2XformLinear linearXform(const tkVector<2>& p) const override {
    return second_->linearXform(first_->mapPoint(p)) * first_->linearXform(p);
  }
  tkPtrHandle<tk2XformBase> inverseBase() const override {
    return tkPtrHandle<tk2XformBase>(
        new tk_2XformComposition(first_->inverseBase(), second_->inverseBase()));
  }
  tkPtrHandle<tk2XformBase> clone() const override {
    return tkPtrHandle<tk2XformBase>(new tk_2XformComposition(second_->clone(), first_->clone()));
  }

 protected:
  void dispatchSerialize(tkArchive&) override {
    throw tkArchive::CannotStore(L"a composed two-dimensional transform cannot be archived");
  }

 private:
  tkPtrHandle<tk2XformBase> second_;
  tkPtrHandle<tk2XformBase> first_;
};

}  // namespace

tk2XformBase::~tk2XformBase() = default;

tkPtrHandle<tk2XformBase> tk2XformBase::composeBase(const tk2XformBase& first) const {
  return tkPtrHandle<tk2XformBase>(new tk_2XformComposition(clone(), first.clone()));
}

void tk2XformBase::dispatchSerialize(tkArchive& ar) {
  if (haveVisited(this, sizeof(*this)))
    return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  setVisited(this, sizeof(*this));
}

void tk2XformBase::serialize_(tkArchive& ar, unsigned char version) {
  if (version != 0)
    throw tkArchive::UnknownVersion("tk2XformBase", 0);
  tkPersistent::dispatchSerialize(ar);
}
