// Persistent classes and a value record used by the archive fuzz target and its seed writer.
// Together they reach every archive operator: the basic values, vectors (nested, of bool, of
// texts), enumerations, and polymorphic pointers nested inside objects.
#ifndef CCAL_TESTS_FUZZ_ARCHIVE_FUZZ_CLASSES_H
#define CCAL_TESTS_FUZZ_ARCHIVE_FUZZ_CLASSES_H

#include <tk/archive.h>

#include <string>
#include <typeinfo>
#include <vector>

// A plain persistent class with a newer version (1) that adds a field; version 0 is still read.
class tkFuzzValues : public tkPersistent {
 public:
  bool flag = false;
  unsigned char byte = 0;
  signed char small = 0;
  int integer = 0;
  unsigned int count = 0;
  long status = 0;
  unsigned long size = 0;
  float ratio = 0;
  std::vector<std::vector<int>> grid;
  std::vector<bool> mask;
  std::vector<std::string> names;  // version 1 and later

 protected:
  void dispatchSerialize(tkArchive& ar) override {
    if (haveVisited(this, sizeof(*this)))
      return;
    unsigned char version = 1;
    ar || version;
    serialize_(ar, version);
    setVisited(this, sizeof(*this));
  }
  void serialize_(tkArchive& ar, unsigned char version) {
    if (version > 1)
      throw tkArchive::UnknownVersion("tkFuzzValues", 0);
    tkPersistent::dispatchSerialize(ar);
    ar || flag || byte || small || integer || count || status || size || ratio || grid || mask;
    if (version >= 1)
      ar || names;
  }

 private:
  static tkPersistent* make() { return new tkFuzzValues; }
  static tk_Instantiator sExemplar;
};
inline tk_Instantiator tkFuzzValues::sExemplar{typeid(tkFuzzValues), &tkFuzzValues::make};

// A leaf exception with fields of its own and an owned child object of any registered class.
class tkFuzzSample : public tkExceptionWithString {
 public:
  enum Shape { eRound = 0, eSquare = 1, eLine = 2 };

  explicit tkFuzzSample(const std::wstring& message = std::wstring())
      : tkExceptionWithString(message) {}
  // Copies leave the child behind: it has a single owner.
  tkFuzzSample(const tkFuzzSample& other)
      : tkExceptionWithString(other),
        scale(other.scale),
        samples(other.samples),
        words(other.words),
        shape(other.shape) {}
  tkFuzzSample& operator=(const tkFuzzSample&) = delete;
  ~tkFuzzSample() override { delete child; }

  long errorNumber() const override { return 0x7F000001; }
  void suicideAndRethrow() override {
    tkFuzzSample copy(*this);
    delete this;
    throw copy;
  }

  double scale = 0;
  std::vector<double> samples;
  std::vector<std::wstring> words;
  Shape shape = eRound;
  tkPersistent* child = nullptr;

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
      throw tkArchive::UnknownVersion("tkFuzzSample", 0);
    tkExceptionWithString::dispatchSerialize(ar);
    ar || scale || samples || words;
    tfArchiveEnum(ar, shape, eRound, eLine);
    tkPersistent* loaded = child;
    ar || loaded;
    if (ar.isLoading()) {
      delete child;
      child = loaded;
    }
  }

 private:
  static tkPersistent* make() { return new tkFuzzSample; }
  static tk_Instantiator sExemplar;
};
inline tk_Instantiator tkFuzzSample::sExemplar{typeid(tkFuzzSample), &tkFuzzSample::make};

// A sequence of plain values read straight from an archive (no class name, no version byte).
struct FuzzSequence {
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
  std::vector<std::vector<int>> grid;
  std::vector<bool> mask;
  std::vector<std::wstring> words;
  tkFuzzSample::Shape shape = tkFuzzSample::eRound;
  tkFuzzSample* sample = nullptr;  // owned

  FuzzSequence() = default;
  FuzzSequence(const FuzzSequence&) = delete;
  FuzzSequence& operator=(const FuzzSequence&) = delete;
  ~FuzzSequence() { delete sample; }
};

inline tkArchive& operator||(tkArchive& ar, FuzzSequence& s) {
  ar || s.flag || s.byte || s.small || s.integer || s.count || s.status || s.size || s.ratio ||
      s.length || s.name || s.label || s.samples || s.grid || s.mask || s.words;
  tfArchiveEnum(ar, s.shape, tkFuzzSample::eRound, tkFuzzSample::eLine);
  return ar || s.sample;
}

#endif
