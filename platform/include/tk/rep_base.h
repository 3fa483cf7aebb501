// Shared ownership of heap objects by an intrusive reference count: tkRepBase holds the count,
// tkPtrHandle<T> is the handle that keeps a T alive.
//
// A class whose objects are handed out through handles derives from tkRepBase (the transform
// classes of the tk2XformBase family do). A handle built from a new object takes ownership of
// it; copies of the handle share it; the last handle to let go deletes it through its virtual
// destructor. The count is atomic, so handles to one object may be copied and dropped on
// different threads; the object itself is not synchronised.
#ifndef TK_REP_BASE_H
#define TK_REP_BASE_H

#include <tk/export.h>

#include <atomic>
#include <type_traits>
#include <utility>

template <class T>
class tkPtrHandle;

class TK_API tkRepBase {
 public:
  virtual ~tkRepBase();

 protected:
  tkRepBase() = default;
  // A copy is a new object: it starts without handles, whatever the original had.
  tkRepBase(const tkRepBase&) noexcept {}
  tkRepBase& operator=(const tkRepBase&) noexcept { return *this; }

 private:
  template <class T>
  friend class tkPtrHandle;

  void addReference() const noexcept { references_.fetch_add(1, std::memory_order_relaxed); }
  // True when the reference dropped was the last one.
  bool dropReference() const noexcept {
    return references_.fetch_sub(1, std::memory_order_acq_rel) == 1;
  }

  mutable std::atomic<long> references_{0};
};

// A counted handle to a T derived from tkRepBase. The null handle owns nothing.
template <class T>
class tkPtrHandle {
 public:
  tkPtrHandle() noexcept = default;
  // Takes ownership of object, which must have been created with new and must not be owned by
  // anything but handles (null gives the null handle).
  explicit tkPtrHandle(T* object) noexcept : object_(object) { acquire(); }
  tkPtrHandle(const tkPtrHandle& other) noexcept : object_(other.object_) { acquire(); }
  tkPtrHandle(tkPtrHandle&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  // From a handle to a derived class: shares its object.
  template <class U, typename = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  tkPtrHandle(const tkPtrHandle<U>& other) noexcept : object_(other.get()) {
    acquire();
  }
  ~tkPtrHandle() { reset(); }

  tkPtrHandle& operator=(tkPtrHandle other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }

  // Lets go of the object (deleting it when this was its last handle); the handle is then null.
  void reset() noexcept {
    if (object_ != nullptr && static_cast<const tkRepBase*>(object_)->dropReference())
      delete object_;
    object_ = nullptr;
  }

  T* get() const noexcept { return object_; }
  // Precondition: the handle is not null.
  T& operator*() const noexcept { return *object_; }
  T* operator->() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  static_assert(std::is_base_of<tkRepBase, T>::value, "tkPtrHandle needs a tkRepBase");

  void acquire() noexcept {
    if (object_ != nullptr)
      static_cast<const tkRepBase*>(object_)->addReference();
  }

  T* object_ = nullptr;
};

#endif
