// Test helpers for archive operators: store a value (or a polymorphic pointer) into bytes, load
// it back, and check that a load fails with the UnknownVersion of a named location.
#ifndef CCAL_TESTS_SUPPORT_ARCHIVE_EXPECT_H
#define CCAL_TESTS_SUPPORT_ARCHIVE_EXPECT_H

#include <gtest/gtest.h>
#include <tk/archive.h>

#include <memory>
#include <string>
#include <vector>

using ArchiveBytes = std::vector<unsigned char>;

// The bytes of `ar || value` (value may be a tkPersistent* for the polymorphic form).
template <class T>
ArchiveBytes StoreToBytes(T&& value) {
  ArchiveBytes buffer;
  tkArchive ar(buffer, tkArchive::eStore);
  ar || value;
  return buffer;
}

// Loads bytes into target with `ar || target`; every byte must be read.
template <class T>
void LoadFromBytes(ArchiveBytes bytes, T& target) {
  tkArchive ar(bytes, tkArchive::eLoad);
  ar || target;
  EXPECT_EQ(ar.remaining(), 0u);
}

// A polymorphic load: the object the bytes name (null for a null pointer), owned by the caller.
inline std::unique_ptr<tkPersistent> LoadPointerFromBytes(ArchiveBytes bytes) {
  tkPersistent* object = nullptr;
  LoadFromBytes(std::move(bytes), object);
  return std::unique_ptr<tkPersistent>(object);
}

// Succeeds when loading bytes into target throws tkArchive::UnknownVersion naming location and
// line.
template <class T>
::testing::AssertionResult LoadThrowsUnknownVersion(ArchiveBytes bytes, T& target,
                                                    const std::string& location, long line) {
  try {
    tkArchive ar(bytes, tkArchive::eLoad);
    ar || target;
  } catch (const tkArchive::UnknownVersion& e) {
    if (e.location() == location && e.line() == line)
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "UnknownVersion of " << e.location() << ", line "
                                         << e.line() << " instead of " << location << ", " << line;
  }
  return ::testing::AssertionFailure() << "the load succeeded";
}

#endif
