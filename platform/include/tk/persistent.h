// Persistent objects: objects that move through a tkArchive, either by value or through a
// pointer whose class the reader learns from the archive.
//
// A persistent class derives (directly or through a toolkit base) from tkPersistent and follows
// these conventions:
//   - it overrides the protected dispatchSerialize(tkArchive&):
//       1. return at once if haveVisited(this, sizeof(*this));
//       2. put the class's current version into an unsigned char and move it with
//          operator||(tkArchive&, unsigned char&) (written when storing, read when loading);
//       3. call its own serialize_(ar, version), then setVisited(this, sizeof(*this));
//   - serialize_(tkArchive&, unsigned char version) throws tkArchive::UnknownVersion for a version
//     it cannot read, then calls the direct base's dispatchSerialize (the base's own, not the
//     virtual call) so that base parts come first, then moves its own fields with operator|| in
//     one fixed order; when loading, each field is written back into the object as it is read;
//   - a class the registry can create has a private static `tkPersistent* make()` returning a new
//     default object and a private static `tk_Instantiator sExemplar` constructed from
//     typeid(Class) and make.
//
// Virtual operations, in slot order: destructor, dispatchSerialize, reInit, loadSimple. Derived
// toolkit classes append theirs after these (tkException: errorNumber, suicideAndRethrow).
#ifndef TK_PERSISTENT_H
#define TK_PERSISTENT_H

#include <tk/export.h>

#include <cstddef>
#include <typeinfo>

class tkArchive;
class tkPersistent;

// Polymorphic and by-value archiving of persistent objects; documented in <tk/archive.h>.
TK_API tkArchive& operator||(tkArchive& ar, tkPersistent*& object);
TK_API tkArchive& operator||(tkArchive& ar, tkPersistent& object);

class TK_API tkPersistent {
 public:
  virtual ~tkPersistent();

 protected:
  tkPersistent() = default;
  tkPersistent(const tkPersistent&) = default;
  tkPersistent& operator=(const tkPersistent&) = default;

  // Moves the object's state through the archive (see the conventions above). The base writes
  // and reads nothing.
  virtual void dispatchSerialize(tkArchive& ar);

 public:
  // Called by the archive once an object has been completely loaded (by value or through a
  // pointer), so that a class can rebuild state it does not archive (caches, inverses). The
  // default does nothing.
  virtual void reInit();
  // Reserved for a class-specific compact load. No toolkit class overrides it and the archive
  // never calls it; the default does nothing.
  virtual void loadSimple(tkArchive& ar);

  // True when the object at address, of the given size, was already moved in the current
  // archive operation: the outermost tkArchive::Operation active on this thread (the persistent
  // and vector operators open one). Outside an operation it is false.
  static bool haveVisited(const void* address, std::size_t size);
  // Marks the object at address, of the given size, as moved in the current archive operation.
  // Outside an operation it does nothing.
  static void setVisited(const void* address, std::size_t size);

 private:
  friend tkArchive& operator||(tkArchive& ar, tkPersistent*& object);
  friend tkArchive& operator||(tkArchive& ar, tkPersistent& object);
};

// Registration object of the type registry: constructing one registers factory as the maker of
// type, filed under the class's qualified C++ name as written in the source
// ("tk2XformLineScanDefs::BadParams"), which is the same text on every compiler. It holds no data.
// Registering the same type again is harmless. If a different type already holds that name (two
// classes with one name in different anonymous namespaces), the later type is not registered
// and storing it throws tkArchive::CannotStore. Throws tkBadPointer for a null factory.
// Safe to use from static initialisers of any translation unit.
class TK_API tk_Instantiator {
 public:
  tk_Instantiator(const std::type_info& type, tkPersistent* (*factory)());
};

#endif
