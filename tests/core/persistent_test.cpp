// Persistent objects: the type registry, polymorphic store and load by registered name, the
// version conventions and the visited marks of one archive operation (an object stored twice).
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
    setVisited(this, sizeof(*this));
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
const std::string kSampleName = "tkArchiveTestSample";

std::unique_ptr<tkArchiveTestSample> sampleTree() {
  auto root = std::make_unique<tkArchiveTestSample>();
  root->scale = 2.5;
  root->label = L"root \u00B5m";
  root->counts = {3, 1, 4};
  root->child = new tkArchiveTestSample;
  static_cast<tkArchiveTestSample*>(root->child)->label = L"leaf";
  return root;
}

void expectSampleTree(const tkArchiveTestSample& root) {
  EXPECT_EQ(root.scale, 2.5);
  EXPECT_EQ(root.label, L"root \u00B5m");
  EXPECT_EQ(root.counts, (std::vector<int>{3, 1, 4}));
  EXPECT_EQ(root.reInitCalls, 1);
  auto* leaf = dynamic_cast<tkArchiveTestSample*>(root.child);
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(leaf->label, L"leaf");
  EXPECT_EQ(leaf->child, nullptr);
}

}  // namespace

TEST(TypeRegistry, NamesAreQualifiedClassNamesAsWritten) {
  EXPECT_EQ(tk_qualifiedClassName(typeid(tkArchive::UnknownVersion)), "tkArchive::UnknownVersion");
  EXPECT_EQ(tk_qualifiedClassName(typeid(tkArchiveTestSample)), kSampleName);
  std::string name;
  EXPECT_TRUE(tk_registeredName(typeid(tkArchive::Corrupt), name));
  EXPECT_EQ(name, "tkArchive::Corrupt");
  EXPECT_FALSE(tk_registeredName(typeid(tkArchiveTestUnregistered), name));
  EXPECT_THROW(tk_Instantiator(typeid(tkArchiveTestUnregistered), nullptr), tkBadPointer);
}

TEST(PolymorphicArchive, ReaderThatKnowsOnlyTheArchiveGetsTheSameObjects) {
  std::unique_ptr<tkArchiveTestSample> stored = sampleTree();
  std::unique_ptr<tkPersistent> loaded =
      LoadPointerFromBytes(StoreToBytes(static_cast<tkPersistent*>(stored.get())));
  auto* root = dynamic_cast<tkArchiveTestSample*>(loaded.get());
  ASSERT_NE(root, nullptr) << "loaded as " << typeid(*loaded).name();
  expectSampleTree(*root);
  // By value: the fields without the name, starting with the version byte.
  const Bytes byValue = StoreToBytes(*stored);
  EXPECT_EQ(byValue.front(), 0);
  tkArchiveTestSample inPlace;
  LoadFromBytes(byValue, inPlace);
  expectSampleTree(inPlace);
}

TEST(PolymorphicArchive, LayoutIsNameThenVersionBytesThenFields) {
  tkBadPointer leaf(L"p");
  const Bytes expected = {12, 0, 0, 0, 't', 'k', 'B', 'a', 'd', 'P', 'o', 'i', 'n', 't', 'e', 'r',
                          0,  // tkBadPointer version
                          0,  // tkExceptionWithString version
                          0,  // tkException version
                          1,  0, 0, 0, 'p'};
  EXPECT_EQ(StoreToBytes(static_cast<tkPersistent*>(&leaf)), expected);
  EXPECT_EQ(StoreToBytes(static_cast<tkPersistent*>(nullptr)), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(LoadPointerFromBytes({0, 0, 0, 0}), nullptr);
}

TEST(PolymorphicArchive, ObjectsOfAnotherUnknownOrUnregisteredClassAreRefused) {
  tkBadPointer other(L"not a sample");
  Bytes bytes = StoreToBytes(static_cast<tkPersistent*>(&other));
  tkArchive ar(bytes, tkArchive::eLoad);
  tkArchiveTestSample* sample = nullptr;
  EXPECT_THROW(ar || sample, tkArchive::Corrupt) << "a typed pointer takes only its class";
  EXPECT_EQ(sample, nullptr);
  try {
    LoadPointerFromBytes({4, 0, 0, 0, 'N', 'o', 'p', 'e', 0});
    FAIL() << "no exception";
  } catch (const tkArchive::Corrupt& e) {
    EXPECT_NE(std::string(e.what()).find("'Nope'"), std::string::npos) << e.what();
  }
  tkArchiveTestUnregistered unregistered;
  EXPECT_THROW(StoreToBytes(static_cast<tkPersistent*>(&unregistered)), tkArchive::CannotStore);
  // The same object twice in one operation cannot be stored; separate operations may store it.
  tkArchiveTestSample shared;
  std::vector<tkPersistent*> twice = {&shared, &shared};
  Bytes buffer;
  tkArchive store(buffer, tkArchive::eStore);
  EXPECT_THROW(store || twice, tkArchive::CannotStore);
  tkPersistent* once = &shared;
  store || once;
  EXPECT_NO_THROW(store || once);
}

TEST(PolymorphicArchive, HostileNestingThrowsInsteadOfExhaustingTheStack) {
  // Each level: the name, the version byte, scale, label and counts, then the child pointer.
  Bytes level = {static_cast<unsigned char>(kSampleName.size()), 0, 0, 0};
  level.insert(level.end(), kSampleName.begin(), kSampleName.end());
  level.insert(level.end(), 1 + 8 + 4 + 4, 0);  // version, scale, empty label, no counts
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

TEST(ArchiveVersions, UnknownVersionNamesTheLocationAndTheObjectKeepsWhatWasRead) {
  std::unique_ptr<tkArchiveTestSample> stored = sampleTree();
  Bytes bytes = StoreToBytes(static_cast<tkPersistent*>(stored.get()));
  bytes[4 + kSampleName.size()] = 1;
  tkPersistent* loaded = nullptr;
  EXPECT_TRUE(LoadThrowsUnknownVersion(bytes, loaded, "tests/core/persistent_test",
                                       tkArchiveTestSample::kVersionLine));
  EXPECT_EQ(loaded, nullptr);

  // By value, with the child's version spoilt: its version byte follows its name.
  bytes = StoreToBytes(*stored);
  const auto nameAt =
      std::search(bytes.begin(), bytes.end(), kSampleName.begin(), kSampleName.end());
  ASSERT_NE(nameAt, bytes.end());
  bytes[static_cast<std::size_t>(nameAt - bytes.begin()) + kSampleName.size()] = 7;
  tkArchiveTestSample partial;
  tkArchive ar(bytes, tkArchive::eLoad);
  EXPECT_THROW(ar || partial, tkArchive::UnknownVersion);
  EXPECT_EQ(partial.counts, (std::vector<int>{3, 1, 4}));
  EXPECT_EQ(partial.child, nullptr) << "the half-read child is deleted, not attached";
}
