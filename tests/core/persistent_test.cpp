// Persistent objects: the type registry, polymorphic store and load by registered name, the
// version conventions and the visited marks of one archive operation.
#include <gtest/gtest.h>
#include <tk/archive.h>

#include "platform/core/type_registry.h"
#include "support/archive_expect.h"

#include <algorithm>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

// A persistent class written the way the library's own are. It owns child.
class tkArchiveTestSample : public tkPersistent {
 public:
  tkArchiveTestSample() = default;
  tkArchiveTestSample(const tkArchiveTestSample&) = delete;
  tkArchiveTestSample& operator=(const tkArchiveTestSample&) = delete;
  ~tkArchiveTestSample() override { delete child; }
  void reInit() override { ++reInitCalls; }

  double scale = 0;
  std::wstring label;
  std::vector<int> counts;
  tkPersistent* child = nullptr;
  int reInitCalls = 0;

  static constexpr long kVersionLine = 42;

 protected:
  void dispatchSerialize(tkArchive& ar) override {
    if (haveVisited(this, sizeof(*this)))
      return;
    unsigned char version = 0;
    ar || version;
    serialize_(ar, version);
    setVisited(this, sizeof(*this));
  }
  void serialize_(tkArchive& ar, unsigned char version) {
    if (version != 0)
      throw tkArchive::UnknownVersion("tests/core/persistent_test", kVersionLine);
    tkPersistent::dispatchSerialize(ar);
    ar || scale || label || counts;
    tkPersistent* loaded = child;
    ar || loaded;
    if (ar.isLoading()) {
      delete child;
      child = loaded;
    }
  }

 private:
  static tkPersistent* make() { return new tkArchiveTestSample; }
  static tk_Instantiator sExemplar;
};
tk_Instantiator tkArchiveTestSample::sExemplar(typeid(tkArchiveTestSample),
                                               &tkArchiveTestSample::make);

// Persistent but never registered.
class tkArchiveTestUnregistered : public tkPersistent {};

namespace {

using Bytes = ArchiveBytes;

Bytes storePointer(tkPersistent* object) {
  return StoreToBytes(object);
}

std::unique_ptr<tkArchiveTestSample> sampleTree() {
  auto root = std::make_unique<tkArchiveTestSample>();
  root->scale = 2.5;
  root->label = L"root \u00B5m";
  root->counts = {3, 1, 4};
  auto leaf = std::make_unique<tkArchiveTestSample>();
  leaf->scale = -1;
  leaf->label = L"leaf";
  root->child = leaf.release();
  return root;
}

}  // namespace

TEST(TypeRegistry, NamesAreQualifiedClassNamesAsWritten) {
  EXPECT_EQ(tk_qualifiedClassName(typeid(tkArchive::UnknownVersion)), "tkArchive::UnknownVersion");
  EXPECT_EQ(tk_qualifiedClassName(typeid(tkMathError::Singular)), "tkMathError::Singular");
  EXPECT_EQ(tk_qualifiedClassName(typeid(tkArchiveTestSample)), "tkArchiveTestSample");
  std::string name;
  EXPECT_TRUE(tk_registeredName(typeid(tkArchive::Corrupt), name));
  EXPECT_EQ(name, "tkArchive::Corrupt");
  EXPECT_FALSE(tk_registeredName(typeid(tkArchiveTestUnregistered), name));
  EXPECT_THROW(tk_Instantiator(typeid(tkArchiveTestUnregistered), nullptr), tkBadPointer);
}

TEST(PolymorphicArchive, ReaderThatKnowsOnlyTheArchiveGetsTheSameObjects) {
  std::unique_ptr<tkArchiveTestSample> stored = sampleTree();
  std::unique_ptr<tkPersistent> loaded = LoadPointerFromBytes(storePointer(stored.get()));

  auto* root = dynamic_cast<tkArchiveTestSample*>(loaded.get());
  ASSERT_NE(root, nullptr) << "loaded as " << typeid(*loaded).name();
  EXPECT_EQ(root->scale, 2.5);
  EXPECT_EQ(root->label, L"root \u00B5m");
  EXPECT_EQ(root->counts, (std::vector<int>{3, 1, 4}));
  EXPECT_EQ(root->reInitCalls, 1);
  auto* leaf = dynamic_cast<tkArchiveTestSample*>(root->child);
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(leaf->scale, -1);
  EXPECT_EQ(leaf->label, L"leaf");
  EXPECT_EQ(leaf->child, nullptr);
}

TEST(PolymorphicArchive, LayoutIsNameThenVersionBytesThenFields) {
  tkBadPointer leaf(L"p");
  const Bytes expected = {12, 0, 0, 0, 't', 'k', 'B', 'a', 'd', 'P', 'o', 'i', 'n', 't', 'e', 'r',
                          0,  // tkBadPointer version
                          0,  // tkExceptionWithString version
                          0,  // tkException version
                          1,  0, 0, 0, 'p'};
  EXPECT_EQ(storePointer(&leaf), expected);
  EXPECT_EQ(storePointer(nullptr), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(LoadPointerFromBytes({0, 0, 0, 0}), nullptr);
}

TEST(PolymorphicArchive, ByValueMovesFieldsWithoutTheName) {
  std::unique_ptr<tkArchiveTestSample> stored = sampleTree();
  const Bytes buffer = StoreToBytes(*stored);
  EXPECT_EQ(buffer.front(), 0) << "starts with the version byte";
  tkArchiveTestSample loaded;
  LoadFromBytes(buffer, loaded);
  EXPECT_EQ(loaded.label, stored->label);
  EXPECT_EQ(loaded.reInitCalls, 1);
  ASSERT_NE(loaded.child, nullptr);
}

TEST(PolymorphicArchive, TypedPointersRejectObjectsOfAnotherClass) {
  tkBadPointer other(L"not a sample");
  Bytes bytes = storePointer(&other);
  tkArchive ar(bytes, tkArchive::eLoad);
  tkArchiveTestSample* sample = nullptr;
  EXPECT_THROW(ar || sample, tkArchive::Corrupt);
  EXPECT_EQ(sample, nullptr);

  std::unique_ptr<tkArchiveTestSample> stored = sampleTree();
  Bytes same = storePointer(stored.get());
  tkArchive reader(same, tkArchive::eLoad);
  reader || sample;
  std::unique_ptr<tkArchiveTestSample> owner(sample);
  ASSERT_NE(sample, nullptr);
  EXPECT_EQ(sample->scale, 2.5);
}

TEST(PolymorphicArchive, UnknownAndUnregisteredClassesThrow) {
  Bytes unknown = {4, 0, 0, 0, 'N', 'o', 'p', 'e', 0};
  try {
    LoadPointerFromBytes(unknown);
    FAIL() << "no exception";
  } catch (const tkArchive::Corrupt& e) {
    EXPECT_NE(std::string(e.what()).find("'Nope'"), std::string::npos) << e.what();
  }
  tkArchiveTestUnregistered unregistered;
  EXPECT_THROW(storePointer(&unregistered), tkArchive::CannotStore);
}

TEST(PolymorphicArchive, TheSameObjectTwiceInOneOperationCannotBeStored) {
  tkArchiveTestSample shared;
  std::vector<tkPersistent*> twice = {&shared, &shared};
  Bytes buffer;
  tkArchive ar(buffer, tkArchive::eStore);
  EXPECT_THROW(ar || twice, tkArchive::CannotStore);
  // Separate operations may store it again.
  tkPersistent* once = &shared;
  ar || once;
  EXPECT_NO_THROW(ar || once);
}

TEST(PolymorphicArchive, HostileNestingThrowsInsteadOfExhaustingTheStack) {
  // Each level: the name, the version byte, scale, label and counts, then the child pointer.
  const std::string name = "tkArchiveTestSample";
  Bytes level = {static_cast<unsigned char>(name.size()), 0, 0, 0};
  level.insert(level.end(), name.begin(), name.end());
  level.push_back(0);               // version
  level.insert(level.end(), 8, 0);  // scale
  level.insert(level.end(), 4, 0);  // empty label
  level.insert(level.end(), 4, 0);  // no counts
  Bytes bytes;
  for (int i = 0; i < 5000; ++i)
    bytes.insert(bytes.end(), level.begin(), level.end());
  bytes.insert(bytes.end(), 4, 0);  // the innermost child is null
  try {
    LoadPointerFromBytes(bytes);
    FAIL() << "no exception";
  } catch (const tkArchive::Corrupt& e) {
    EXPECT_NE(std::string(e.what()).find("nested"), std::string::npos) << e.what();
  }
}

TEST(ArchiveVersions, UnknownVersionNamesTheLocationAndLine) {
  std::unique_ptr<tkArchiveTestSample> stored = sampleTree();
  Bytes bytes = storePointer(stored.get());
  const std::size_t versionAt = 4 + std::string("tkArchiveTestSample").size();
  ASSERT_EQ(bytes[versionAt], 0);
  bytes[versionAt] = 1;
  tkPersistent* loaded = nullptr;
  EXPECT_TRUE(LoadThrowsUnknownVersion(bytes, loaded, "tests/core/persistent_test",
                                       tkArchiveTestSample::kVersionLine));
  EXPECT_EQ(loaded, nullptr);
}

TEST(ArchiveVersions, ObjectKeepsWhatWasReadBeforeTheFailure) {
  std::unique_ptr<tkArchiveTestSample> stored = sampleTree();
  Bytes bytes = StoreToBytes(*stored);
  // The child's version byte follows its name, which follows the root's own fields.
  const std::string childName = "tkArchiveTestSample";
  const auto nameAt = std::search(bytes.begin(), bytes.end(), childName.begin(), childName.end());
  ASSERT_NE(nameAt, bytes.end());
  bytes[static_cast<std::size_t>(nameAt - bytes.begin()) + childName.size()] = 7;

  tkArchiveTestSample loaded;
  tkArchive ar(bytes, tkArchive::eLoad);
  EXPECT_THROW(ar || loaded, tkArchive::UnknownVersion);
  EXPECT_EQ(loaded.scale, 2.5);
  EXPECT_EQ(loaded.counts, (std::vector<int>{3, 1, 4}));
  EXPECT_EQ(loaded.child, nullptr) << "the half-read child is deleted, not attached";
}

TEST(VisitedMarks, LastForOneOperation) {
  tkArchiveTestSample object;
  EXPECT_FALSE(tkPersistent::haveVisited(&object, sizeof(object)));
  tkPersistent::setVisited(&object, sizeof(object));  // outside an operation: no effect
  EXPECT_FALSE(tkPersistent::haveVisited(&object, sizeof(object)));

  Bytes buffer;
  tkArchive ar(buffer, tkArchive::eStore);
  {
    tkArchive::Operation operation(ar);
    tkPersistent::setVisited(&object, sizeof(object));
    EXPECT_TRUE(tkPersistent::haveVisited(&object, sizeof(object)));
    EXPECT_FALSE(tkPersistent::haveVisited(&object, 1)) << "marks are per address and size";
    {
      tkArchive::Operation nested(ar);
      EXPECT_TRUE(tkPersistent::haveVisited(&object, sizeof(object)));
    }
    EXPECT_TRUE(tkPersistent::haveVisited(&object, sizeof(object)));
  }
  EXPECT_FALSE(tkPersistent::haveVisited(&object, sizeof(object)));
  tkArchive::Operation next(ar);
  EXPECT_FALSE(tkPersistent::haveVisited(&object, sizeof(object))) << "cleared between operations";
}
