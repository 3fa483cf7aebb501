// The exceptions of tkArchive.
#include <tk/archive.h>

#include "platform/core/utf8.h"

namespace {

std::wstring unknownVersionText(const std::string& location, long line) {
  return L"the archive holds a version that " + tk_printableText(location, 200) +
         L" cannot read (line " + std::to_wstring(line) + L")";
}

}  // namespace

// ---- tkArchive::UnknownVersion ---------------------------------------------------------------

tk_Instantiator tkArchive::UnknownVersion::sExemplar(typeid(tkArchive::UnknownVersion),
                                                     &tkArchive::UnknownVersion::make);

tkArchive::UnknownVersion::UnknownVersion(const std::string& location, long line)
    : tkExceptionWithString(unknownVersionText(location, line)), location_(location), line_(line) {}

tkArchive::UnknownVersion::UnknownVersion() : line_(0) {}

tkArchive::UnknownVersion::~UnknownVersion() = default;

long tkArchive::UnknownVersion::errorNumber() const {
  return 0x10000103;
}

void tkArchive::UnknownVersion::suicideAndRethrow() {
  UnknownVersion copy(*this);
  delete this;
  throw copy;
}

tkPersistent* tkArchive::UnknownVersion::make() {
  return new UnknownVersion;
}

void tkArchive::UnknownVersion::dispatchSerialize(tkArchive& ar) {
  if (haveVisited(this, sizeof(*this)))
    return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  setVisited(this, sizeof(*this));
}

void tkArchive::UnknownVersion::serialize_(tkArchive& ar, unsigned char version) {
  if (version != 0)
    throw UnknownVersion("tkArchive::UnknownVersion", 0);
  tkExceptionWithString::dispatchSerialize(ar);
  ar || location_;
  ar || line_;
}

// ---- tkArchive::Corrupt ----------------------------------------------------------------------

tk_Instantiator tkArchive::Corrupt::sExemplar(typeid(tkArchive::Corrupt),
                                              &tkArchive::Corrupt::make);

tkArchive::Corrupt::Corrupt(const std::wstring& message) : tkExceptionWithString(message) {}

tkArchive::Corrupt::~Corrupt() = default;

long tkArchive::Corrupt::errorNumber() const {
  return 0x10000104;
}

void tkArchive::Corrupt::suicideAndRethrow() {
  Corrupt copy(*this);
  delete this;
  throw copy;
}

tkPersistent* tkArchive::Corrupt::make() {
  return new Corrupt;
}

void tkArchive::Corrupt::dispatchSerialize(tkArchive& ar) {
  if (haveVisited(this, sizeof(*this)))
    return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  setVisited(this, sizeof(*this));
}

void tkArchive::Corrupt::serialize_(tkArchive& ar, unsigned char version) {
  if (version != 0)
    throw UnknownVersion("tkArchive::Corrupt", 0);
  tkExceptionWithString::dispatchSerialize(ar);
}

// ---- tkArchive::CannotStore ------------------------------------------------------------------

tk_Instantiator tkArchive::CannotStore::sExemplar(typeid(tkArchive::CannotStore),
                                                  &tkArchive::CannotStore::make);

tkArchive::CannotStore::CannotStore(const std::wstring& message) : tkExceptionWithString(message) {}

tkArchive::CannotStore::~CannotStore() = default;

long tkArchive::CannotStore::errorNumber() const {
  return 0x10000105;
}

void tkArchive::CannotStore::suicideAndRethrow() {
  CannotStore copy(*this);
  delete this;
  throw copy;
}

tkPersistent* tkArchive::CannotStore::make() {
  return new CannotStore;
}

void tkArchive::CannotStore::dispatchSerialize(tkArchive& ar) {
  if (haveVisited(this, sizeof(*this)))
    return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  setVisited(this, sizeof(*this));
}

void tkArchive::CannotStore::serialize_(tkArchive& ar, unsigned char version) {
  if (version != 0)
    throw UnknownVersion("tkArchive::CannotStore", 0);
  tkExceptionWithString::dispatchSerialize(ar);
}

// ---- tkArchive::IOFailure --------------------------------------------------------------------

tk_Instantiator tkArchive::IOFailure::sExemplar(typeid(tkArchive::IOFailure),
                                                &tkArchive::IOFailure::make);

tkArchive::IOFailure::IOFailure(const std::wstring& message) : tkExceptionWithString(message) {}

tkArchive::IOFailure::~IOFailure() = default;

long tkArchive::IOFailure::errorNumber() const {
  return 0x10000106;
}

void tkArchive::IOFailure::suicideAndRethrow() {
  IOFailure copy(*this);
  delete this;
  throw copy;
}

tkPersistent* tkArchive::IOFailure::make() {
  return new IOFailure;
}

void tkArchive::IOFailure::dispatchSerialize(tkArchive& ar) {
  if (haveVisited(this, sizeof(*this)))
    return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  setVisited(this, sizeof(*this));
}

void tkArchive::IOFailure::serialize_(tkArchive& ar, unsigned char version) {
  if (version != 0)
    throw UnknownVersion("tkArchive::IOFailure", 0);
  tkExceptionWithString::dispatchSerialize(ar);
}
