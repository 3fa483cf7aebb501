// Archives of basic values: round trips, the exact byte layout, and the failures a truncated,
// corrupt or hostile archive must produce.
#include "allocation_probe.h"

#include <gtest/gtest.h>
#include <tk/archive.h>

#include "support/archive_expect.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include <unistd.h>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using Bytes = ArchiveBytes;

enum class Lens { ePinhole = 0, eRadial = 1, eSineTan = 2, eTelecentric = 7 };

// One field of every kind the archive moves.
struct Values {
  bool flag = false;
  unsigned char byte = 0;
  signed char small = 0;
  int integer = 0;
  unsigned int count = 0;
  long status = 0;
  unsigned long size = 0;
  float ratio = 0;
  double length = 0;
  std::string name;
  std::wstring label;
  std::vector<double> samples;
  std::vector<std::string> names;
  std::vector<std::vector<int>> grid;
  std::vector<bool> mask;
  Lens lens = Lens::ePinhole;
};

tkArchive& operator||(tkArchive& ar, Values& v) {
  ar || v.flag || v.byte || v.small || v.integer || v.count || v.status || v.size || v.ratio ||
      v.length || v.name || v.label || v.samples || v.names || v.grid || v.mask;
  return tfArchiveEnum(ar, v.lens, Lens::ePinhole, Lens::eTelecentric);
}

// Extreme but representable values of every field.
Values extremes() {
  Values v;
  v.flag = true;
  v.byte = 0xFF;
  v.small = -128;
  v.integer = std::numeric_limits<int>::min();
  v.count = 0xFFFFFFFFu;
  v.status = -2147479551L;  // 0x80001001 as a sign-extended status
  v.size = 0xFFFFFFFFul;
  v.ratio = std::numeric_limits<float>::denorm_min();
  v.length = -std::numeric_limits<double>::max();
  v.name = std::string("plate\0A\xC3\xA9", 9);
  v.label = L"Zo\u00EB \u2211 \U0001D11E";
  v.samples = {0.0, -0.0, 1e-308, std::nan("7"), std::numeric_limits<double>::infinity()};
  v.names = {"", "a", std::string(300, 'x')};
  v.grid = {{}, {1, -2, 3}, {4}};
  v.mask = {true, false, true};
  v.lens = Lens::eTelecentric;
  return v;
}

template <class T>
T loadFrom(Bytes bytes) {
  tkArchive ar(bytes, tkArchive::eLoad);
  T value{};
  ar || value;
  return value;
}

template <class T>
void readAs(tkArchive& ar) {
  T value{};
  ar || value;
  if constexpr (std::is_pointer_v<T>)
    delete value;
}

std::string tempPath(const char* name) {
  return ::testing::TempDir() + std::to_string(getpid()) + "_" + name;
}

}  // namespace

TEST(Archive, EveryKindRoundTripsBitForBitThroughABufferAndAFile) {
  Values stored = extremes();
  const Bytes bytes = StoreToBytes(stored);
  Values loaded;
  LoadFromBytes(bytes, loaded);
  EXPECT_EQ(StoreToBytes(loaded), bytes) << "a value changed (NaN payloads included)";

  // A file archive is written on flush and on destruction.
  const std::string path = tempPath("archive_round_trip.bin");
  {
    tkArchive ar(path, tkArchive::eStore);
    int first = 11;
    ar || first;
    ar.flush();
    tkArchive reader(path, tkArchive::eLoad);
    int readBack = 0;
    reader || readBack;
    EXPECT_EQ(readBack, 11);
    EXPECT_EQ(reader.remaining(), 0u);
    ar || stored;
  }
  tkArchive ar(path, tkArchive::eLoad);
  int first = 0;
  Values fromFile;
  ar || first || fromFile;
  EXPECT_EQ(first, 11);
  EXPECT_EQ(StoreToBytes(fromFile), bytes);
  std::remove(path.c_str());
}

TEST(Archive, LayoutOfOneValueOfEachKind) {
  EXPECT_EQ(StoreToBytes(true), (Bytes{0x01}));
  EXPECT_EQ(StoreToBytes(static_cast<signed char>(-2)), (Bytes{0xFE}));
  EXPECT_EQ(StoreToBytes(-2), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(StoreToBytes(0x01020304u), (Bytes{0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(StoreToBytes(-2147479551L), (Bytes{0x01, 0x10, 0x00, 0x80}));
  EXPECT_EQ(StoreToBytes(0xFFFFFFFEul), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(StoreToBytes(1.5f), (Bytes{0x00, 0x00, 0xC0, 0x3F}));
  EXPECT_EQ(StoreToBytes(-2.0), (Bytes{0, 0, 0, 0, 0, 0, 0x00, 0xC0}));
  EXPECT_EQ(StoreToBytes(std::string("ab")), (Bytes{0x02, 0, 0, 0, 'a', 'b'}));
  EXPECT_EQ(StoreToBytes(std::wstring(L"\u00E9\u20AC")),
            (Bytes{0x05, 0, 0, 0, 0xC3, 0xA9, 0xE2, 0x82, 0xAC}));
  EXPECT_EQ(StoreToBytes(std::vector<int>{1, -1}),
            (Bytes{0x02, 0, 0, 0, 0x01, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(StoreToBytes(std::vector<bool>{true, false}), (Bytes{0x02, 0, 0, 0, 0x01, 0x00}));
  Bytes buffer = {9, 9, 9};  // storing replaces what the buffer held
  {
    tkArchive ar(buffer, tkArchive::eStore);
    Lens lens = Lens::eTelecentric;
    tfArchiveEnum(ar, lens, Lens::ePinhole, Lens::eTelecentric);
  }
  EXPECT_EQ(buffer, (Bytes{0x07, 0, 0, 0}));
}

TEST(Archive, ValuesOutsideTheEncodingCannotBeStored) {
  Bytes buffer;
  tkArchive ar(buffer, tkArchive::eStore);
  if (sizeof(long) > 4) {
    long tooLarge = static_cast<long>(1LL << 31), tooSmall = static_cast<long>(-(1LL << 31) - 1);
    unsigned long tooMany = static_cast<unsigned long>(1ULL << 32);
    EXPECT_THROW(ar || tooLarge, tkArchive::CannotStore);
    EXPECT_THROW(ar || tooSmall, tkArchive::CannotStore);
    EXPECT_THROW(ar || tooMany, tkArchive::CannotStore);
  }
  std::wstring loneSurrogate(1, static_cast<wchar_t>(0xD800));
  EXPECT_THROW(ar || loneSurrogate, tkArchive::CannotStore);
  Lens undeclared = static_cast<Lens>(9);
  EXPECT_THROW(tfArchiveEnum(ar, undeclared, Lens::ePinhole, Lens::eTelecentric),
               tkArchive::CannotStore);
  EXPECT_TRUE(buffer.empty());
}

TEST(ArchiveCorrupt, EveryTruncationThrowsAndKeepsWhatWasRead) {
  const Bytes full = StoreToBytes(extremes());
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    tkArchive ar(prefix, tkArchive::eLoad);
    Values loaded;
    EXPECT_THROW(ar || loaded, tkArchive::Corrupt) << "archive cut after " << cut << " bytes";
  }
  Bytes bytes = {0x01, 0x2A, 0xFF, 0x03};  // bool, byte, small, then a truncated int
  tkArchive ar(bytes, tkArchive::eLoad);
  Values loaded;
  EXPECT_THROW(ar || loaded, tkArchive::Corrupt);
  EXPECT_TRUE(loaded.flag && loaded.byte == 0x2A && loaded.small == -1 && loaded.integer == 0);
  try {
    loadFrom<double>({1, 2, 3});
    FAIL() << "no exception";
  } catch (const tkArchive::Corrupt& e) {
    EXPECT_STREQ(e.what(), "the archive ends early: 8 bytes needed at offset 0, 3 remain");
  }
}

TEST(ArchiveCorrupt, HostileCountsThrowWithoutAllocating) {
  const Bytes hugeCount = {0xF0, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c', 0, 0, 0, 0, 0};
  const std::pair<const char*, void (*)(tkArchive&)> readers[] = {
      {"string", readAs<std::string>},
      {"wstring", readAs<std::wstring>},
      {"vector<double>", readAs<std::vector<double>>},
      {"vector<bool>", readAs<std::vector<bool>>},
      {"vector<vector<int>>", readAs<std::vector<std::vector<int>>>},
      {"vector<string>", readAs<std::vector<std::string>>},
      {"class name", readAs<tkPersistent*>},
  };
  {
    AllocationProbe control;
    std::vector<char> block(100000, 'x');
    volatile char touched = block[500];
    (void)touched;
    ASSERT_GE(control.largest(), 100000u) << "the probe does not see allocations";
  }
  for (const auto& reader : readers) {
    Bytes bytes = hugeCount;
    tkArchive ar(bytes, tkArchive::eLoad);
    AllocationProbe probe;
    EXPECT_THROW(reader.second(ar), tkArchive::Corrupt) << reader.first;
    EXPECT_LT(probe.largest(), 4096u) << reader.first << " allocated for a hostile count";
  }
  // Counts are checked against the smallest encoded item: 3 doubles need 24 bytes; 23 remain.
  Bytes bytes = {0x03, 0, 0, 0};
  bytes.resize(4 + 23, 0);
  tkArchive ar(bytes, tkArchive::eLoad);
  std::vector<double> values = {5.0};
  EXPECT_THROW(ar || values, tkArchive::Corrupt);
  EXPECT_EQ(values, std::vector<double>{5.0}) << "rejected before the vector was touched";
}

TEST(ArchiveCorrupt, InvalidBooleansTextsAndEnumerations) {
  EXPECT_THROW(loadFrom<bool>({0x02}), tkArchive::Corrupt);
  const std::vector<Bytes> badUtf8 = {
      {0x02, 0, 0, 0, 0xC0, 0x80},              // overlong NUL
      {0x03, 0, 0, 0, 0xED, 0xA0, 0x80},        // surrogate
      {0x04, 0, 0, 0, 0xF4, 0x90, 0x80, 0x80},  // above 0x10FFFF
      {0x02, 0, 0, 0, 0xE2, 0x82},              // sequence cut by the count
      {0x01, 0, 0, 0, 0x80},                    // lone continuation byte
      {0x01, 0, 0, 0, 0xFF},                    // never valid
  };
  for (const Bytes& bytes : badUtf8) {
    EXPECT_THROW(loadFrom<std::wstring>(bytes), tkArchive::Corrupt);
    EXPECT_NO_THROW(loadFrom<std::string>(bytes)) << "narrow strings carry bytes as they are";
  }
  Bytes bytes = {0x03, 0, 0, 0};
  tkArchive ar(bytes, tkArchive::eLoad);
  Lens lens = Lens::eRadial;
  EXPECT_THROW(tfArchiveEnum(ar, lens, Lens::ePinhole, Lens::eSineTan), tkArchive::Corrupt);
  EXPECT_EQ(lens, Lens::eRadial);
}

TEST(ArchiveFile, MissingAndUnwritableFilesAreIOFailures) {
  EXPECT_THROW(tkArchive(tempPath("no_such_archive.bin"), tkArchive::eLoad), tkArchive::IOFailure);
  EXPECT_THROW(tkArchive(::testing::TempDir(), tkArchive::eLoad), tkArchive::IOFailure)
      << "a folder is not an archive file";
  tkArchive ar(tempPath("no_such_folder/archive.bin"), tkArchive::eStore);
  int value = 1;
  ar || value;
  EXPECT_THROW(ar.flush(), tkArchive::IOFailure);
  // The destructor tries again and must swallow the failure.
}
