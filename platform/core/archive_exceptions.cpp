// The exceptions of tkArchive.
#include <tk/archive.h>
#include "platform/core/persistent_class.h"

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

TK_DEFINE_SUICIDE_AND_RETHROW(tkArchive::UnknownVersion)

tkPersistent* tkArchive::UnknownVersion::make() {
  return new UnknownVersion;
}

TK_DEFINE_DISPATCH_SERIALIZE(tkArchive::UnknownVersion, 0)

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

TK_DEFINE_SUICIDE_AND_RETHROW(tkArchive::Corrupt)

tkPersistent* tkArchive::Corrupt::make() {
  return new Corrupt;
}

TK_DEFINE_DISPATCH_SERIALIZE(tkArchive::Corrupt, 0)

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

TK_DEFINE_SUICIDE_AND_RETHROW(tkArchive::CannotStore)

tkPersistent* tkArchive::CannotStore::make() {
  return new CannotStore;
}

TK_DEFINE_DISPATCH_SERIALIZE(tkArchive::CannotStore, 0)

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

TK_DEFINE_SUICIDE_AND_RETHROW(tkArchive::IOFailure)

tkPersistent* tkArchive::IOFailure::make() {
  return new IOFailure;
}

TK_DEFINE_DISPATCH_SERIALIZE(tkArchive::IOFailure, 0)

void tkArchive::IOFailure::serialize_(tkArchive& ar, unsigned char version) {
  if (version != 0)
    throw UnknownVersion("tkArchive::IOFailure", 0);
  tkExceptionWithString::dispatchSerialize(ar);
}
