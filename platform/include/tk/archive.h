// Archives: platform-independent binary storage of values and persistent objects.
//
// One operator, `tkArchive& operator||(tkArchive&, T&)`, moves a value either way: a storing
// archive writes it, a loading archive reads it back into the same variable. The encoding is
// little-endian and the same on every platform; docs/archive-format.md describes it byte by byte.
//
// Loading never trusts the archive: a truncated, corrupt or hostile archive throws
// tkArchive::Corrupt (or tkArchive::UnknownVersion for a version a class cannot read), every
// count is checked against the bytes that remain before anything is allocated, and the object
// being loaded keeps the fields read before the failure.
//
// An archive and the objects moved through it belong to one thread at a time.
#ifndef TK_ARCHIVE_H
#define TK_ARCHIVE_H

#include <tk/exception.h>
#include <tk/export.h>
#include <tk/persistent.h>

#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

class TK_API tkArchive {
 public:
  enum Mode { eStore, eLoad };

  class UnknownVersion;
  class Corrupt;
  class CannotStore;
  class IOFailure;
  class Operation;

  // Archive over a byte buffer. Storing clears the buffer and appends every value as it is
  // stored, so the buffer holds the archive so far at any time (and the whole archive once the
  // archive is flushed or destroyed). Loading reads the buffer from its start. The buffer must
  // outlive the archive and must not be changed by anyone else while the archive exists.
  tkArchive(std::vector<unsigned char>& buffer, Mode mode);

  // Archive over a file. Storing collects the bytes in memory and writes the file (replacing
  // it) on flush() and, if anything was stored since, on destruction. Loading reads the whole
  // file at once. Throws tkArchive::IOFailure when the file cannot be opened or read.
  tkArchive(const std::string& path, Mode mode);

  // A storing file archive writes what flush() has not yet written; a failure there is
  // swallowed (call flush() to see it).
  ~tkArchive();

  tkArchive(const tkArchive&) = delete;
  tkArchive& operator=(const tkArchive&) = delete;

  bool isStoring() const { return mode_ == eStore; }
  bool isLoading() const { return mode_ == eLoad; }

  // Makes a storing archive complete at its destination: writes the file of a file archive
  // (throws tkArchive::IOFailure when that fails); nothing to do for a buffer or when loading.
  void flush();

  // Bytes stored or read so far.
  std::size_t position() const;
  // Bytes of a loading archive not yet read (0 when storing).
  std::size_t remaining() const;

  // Raw access for archive operators; values should go through operator|| instead.
  // writeBytes appends size bytes (storing only); readBytes reads size bytes into bytes and
  // throws tkArchive::Corrupt, reading nothing, when fewer remain (loading only). Using either
  // in the wrong mode throws tkInvariantFailure.
  void writeBytes(const void* bytes, std::size_t size);
  void readBytes(void* bytes, std::size_t size);

  // Throws tkArchive::Corrupt unless count items of at least minBytesPerItem bytes each fit in
  // the bytes that remain. Loading code calls it before allocating for a count it has read.
  void requireItems(unsigned long count, std::size_t minBytesPerItem) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  Mode mode_;
  friend class Operation;
};

// A class or free archive operator met a version it cannot read. location names the class or
// operator ("tk2XformLineScanDefs::BadParams", "ccal/lnsc/ccalibls"), line the place in it.
class TK_API tkArchive::UnknownVersion : public tkExceptionWithString {
 public:
  UnknownVersion(const std::string& location, long line);
  UnknownVersion(const UnknownVersion&) = default;
  UnknownVersion& operator=(const UnknownVersion&) = default;
  ~UnknownVersion() override;
  const std::string& location() const { return location_; }
  long line() const { return line_; }
  long errorNumber() const override;  // 0x10000103
  void suicideAndRethrow() override;

 protected:
  // Archived form: version byte 0, the tkExceptionWithString part, location, line.
  void dispatchSerialize(tkArchive& ar) override;
  void serialize_(tkArchive& ar, unsigned char version);

 private:
  UnknownVersion();
  static tkPersistent* make();
  static tk_Instantiator sExemplar;
  std::string location_;
  long line_;
};

// A loading archive is truncated, malformed or hostile: too few bytes, a count larger than the
// bytes that remain, an invalid boolean or UTF-8 text, an unknown class name, a value out of
// range. The message says what was expected and at which byte offset.
class TK_API tkArchive::Corrupt : public tkExceptionWithString {
 public:
  explicit Corrupt(const std::wstring& message = std::wstring());
  TK_PERSISTENT_EXCEPTION_MEMBERS(Corrupt);  // errorNumber 0x10000104
};

// A value cannot be written in the archive encoding: a long outside the signed 32-bit range,
// an unsigned long above 2^32 - 1, a text or vector longer than 2^32 - 1, a wide string that is
// not valid Unicode, an object of an unregistered class, or one object stored twice in one
// operation.
class TK_API tkArchive::CannotStore : public tkExceptionWithString {
 public:
  explicit CannotStore(const std::wstring& message = std::wstring());
  TK_PERSISTENT_EXCEPTION_MEMBERS(CannotStore);  // errorNumber 0x10000105
};

// The file of a file archive cannot be opened, read or written. The message names the file.
class TK_API tkArchive::IOFailure : public tkExceptionWithString {
 public:
  explicit IOFailure(const std::wstring& message = std::wstring());
  TK_PERSISTENT_EXCEPTION_MEMBERS(IOFailure);  // errorNumber 0x10000106
};

// One archive operation: the visited marks of tkPersistent::haveVisited/setVisited refer to the
// outermost Operation active on this thread and are cleared when such an outermost Operation
// begins. The persistent and vector operators open one themselves; an operator that moves
// several persistent objects which may share parts opens one around them.
class TK_API tkArchive::Operation {
 public:
  explicit Operation(tkArchive& ar);
  ~Operation();
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

 private:
  tkArchive& archive_;
  void* previous_;
};

// ---- values ----------------------------------------------------------------------------------
// Each moves the value either way and returns the archive. Layouts (little-endian):
//   bool            1 byte, 0 or 1 (any other byte is Corrupt)
//   unsigned char   1 byte;  signed char: 1 byte, two's complement
//   int, long       4 bytes, two's complement (a long outside the 32-bit range is CannotStore)
//   unsigned int,   4 bytes (an unsigned long above 2^32 - 1 is CannotStore)
//   unsigned long
//   float, double   IEEE-754 binary32 / binary64 bit pattern, 4 / 8 bytes
//   std::string     unsigned 32-bit byte count, then the bytes as they are (UTF-8 by convention)
//   std::wstring    unsigned 32-bit byte count, then the text in UTF-8 (invalid UTF-8 is Corrupt)
TK_API tkArchive& operator||(tkArchive& ar, bool& value);
TK_API tkArchive& operator||(tkArchive& ar, unsigned char& value);
TK_API tkArchive& operator||(tkArchive& ar, signed char& value);
TK_API tkArchive& operator||(tkArchive& ar, int& value);
TK_API tkArchive& operator||(tkArchive& ar, unsigned int& value);
TK_API tkArchive& operator||(tkArchive& ar, long& value);
TK_API tkArchive& operator||(tkArchive& ar, unsigned long& value);
TK_API tkArchive& operator||(tkArchive& ar, float& value);
TK_API tkArchive& operator||(tkArchive& ar, double& value);
TK_API tkArchive& operator||(tkArchive& ar, std::string& value);
TK_API tkArchive& operator||(tkArchive& ar, std::wstring& value);

// ---- persistent objects ----------------------------------------------------------------------
// Polymorphic: storing writes the registered name of the object's dynamic class as a
// std::string, then the object (its dispatchSerialize); a null pointer is written as the empty
// name. Loading reads the name, creates the object through the type registry, fills it, calls
// reInit() and assigns it to object, which the caller then owns (a previous pointee is not
// deleted); the empty name gives nullptr. Throws tkArchive::CannotStore when storing an object
// whose class is not registered or that was already stored in this operation, and
// tkArchive::Corrupt for an unknown name; if loading fails the new object is deleted and object
// is left unchanged.
//   tkArchive& operator||(tkArchive& ar, tkPersistent*& object);   (declared in <tk/persistent.h>)
//
// By value: moves the object's fields (its dispatchSerialize) without a class name into an
// existing object; loading calls reInit() afterwards.
//   tkArchive& operator||(tkArchive& ar, tkPersistent& object);    (declared in <tk/persistent.h>)

// Polymorphic archiving through a pointer to a class derived from tkPersistent. Loading an
// object that is not a T throws tkArchive::Corrupt (and deletes the object).
template <class T, typename std::enable_if<std::is_base_of<tkPersistent, T>::value &&
                                               !std::is_same<T, tkPersistent>::value,
                                           int>::type = 0>
tkArchive& operator||(tkArchive& ar, T*& object) {
  tkPersistent* base = object;
  ar || base;
  if (ar.isLoading()) {
    T* typed = dynamic_cast<T*>(base);
    if (base != nullptr && typed == nullptr) {
      delete base;
      throw tkArchive::Corrupt(L"the archive holds an object of another class than expected");
    }
    object = typed;
  }
  return ar;
}

// Smallest number of bytes one T occupies in an archive, used to check a vector's count before
// anything is allocated. Specialise it for a type whose encoding is larger than one byte.
template <class T>
struct tk_ArchiveMinBytes {
  static constexpr std::size_t value =
      std::is_arithmetic<T>::value ? (sizeof(T) < 4 ? sizeof(T) : (sizeof(T) > 4 ? 8 : 4)) : 1;
};
template <>
struct tk_ArchiveMinBytes<long> {
  static constexpr std::size_t value = 4;
};
template <>
struct tk_ArchiveMinBytes<unsigned long> {
  static constexpr std::size_t value = 4;
};
template <>
struct tk_ArchiveMinBytes<std::string> {
  static constexpr std::size_t value = 4;
};
template <>
struct tk_ArchiveMinBytes<std::wstring> {
  static constexpr std::size_t value = 4;
};
template <class U, class A>
struct tk_ArchiveMinBytes<std::vector<U, A>> {
  static constexpr std::size_t value = 4;
};
template <class U>
struct tk_ArchiveMinBytes<U*> {
  static constexpr std::size_t value = 4;
};

// Vectors: unsigned 32-bit element count, then each element with its own operator||. Loading
// checks the count against the bytes that remain, then replaces the vector's contents; after a
// failure the vector holds the elements read before it (for owning pointers, the caller owns
// those). A vector longer than 2^32 - 1 is CannotStore.
template <class T, class A>
tkArchive& operator||(tkArchive& ar, std::vector<T, A>& values) {
  tkArchive::Operation operation(ar);
  unsigned long count = 0;
  if (ar.isStoring()) {
    if (static_cast<unsigned long long>(values.size()) > 0xFFFFFFFFull) {
      throw tkArchive::CannotStore(L"a vector has more than 2^32 - 1 elements");
    }
    count = static_cast<unsigned long>(values.size());
    ar || count;
    for (std::size_t i = 0; i < values.size(); ++i) {
      if constexpr (std::is_same<T, bool>::value) {
        bool item = values[i];
        ar || item;
      } else {
        ar || values[i];
      }
    }
  } else {
    ar || count;
    ar.requireItems(count, tk_ArchiveMinBytes<T>::value);
    values.clear();
    if constexpr (std::is_arithmetic<T>::value)
      values.reserve(count);
    for (unsigned long i = 0; i < count; ++i) {
      T item{};
      ar || item;
      values.push_back(std::move(item));
    }
  }
  return ar;
}

// Enumerations: the value as a signed 32-bit integer. A value outside [lowest, highest] throws
// tkArchive::CannotStore when storing and tkArchive::Corrupt when loading (value unchanged).
template <class E>
tkArchive& tfArchiveEnum(tkArchive& ar, E& value, E lowest, E highest) {
  static_assert(std::is_enum<E>::value, "tfArchiveEnum archives enumerations");
  long raw = static_cast<long>(value);
  if (ar.isStoring() && (raw < static_cast<long>(lowest) || raw > static_cast<long>(highest))) {
    throw tkArchive::CannotStore(L"an enumeration value is out of range");
  }
  ar || raw;
  if (ar.isLoading()) {
    if (raw < static_cast<long>(lowest) || raw > static_cast<long>(highest)) {
      throw tkArchive::Corrupt(L"an enumeration value is out of range");
    }
    value = static_cast<E>(raw);
  }
  return ar;
}

#endif
