// Internal: definitions shared by the persistent classes of the toolkit (the exceptions of the
// core library and the error families of the calibration library).
#ifndef TK_CORE_PERSISTENT_CLASS_H
#define TK_CORE_PERSISTENT_CLASS_H

#include <tk/archive.h>
#include <tk/persistent.h>

// Defines Class::dispatchSerialize: once per archive operation it moves the version byte (the
// current version when storing, the stored one when loading), runs Class::serialize_ with it and
// marks the object visited.
#define TK_DEFINE_DISPATCH_SERIALIZE(Class, currentVersion) \
  void Class::dispatchSerialize(tkArchive& ar) {            \
    if (haveVisited(this, sizeof(*this)))                   \
      return;                                               \
    unsigned char version = currentVersion;                 \
    ar || version;                                          \
    serialize_(ar, version);                                \
    setVisited(this, sizeof(*this));                        \
  }

// Defines Class::suicideAndRethrow for an object created with new (as make() creates it): a copy
// of the exact class is thrown by value after the object is deleted.
#define TK_DEFINE_SUICIDE_AND_RETHROW(Class) \
  void Class::suicideAndRethrow() {          \
    Class copy(*this);                       \
    delete this;                             \
    throw copy;                              \
  }

#endif
