#include <tk/archive.h>
#include <tk/exception.h>
#include "platform/core/persistent_class.h"

#include "platform/core/type_registry.h"
#include "platform/core/utf8.h"

#include <ostream>
#include <typeinfo>

// ---- tk_ExceptionText ------------------------------------------------------------------------

tk_ExceptionText::~tk_ExceptionText() = default;

const char* tk_ExceptionText::what() const noexcept {
  if (!text_.empty())
    return text_.c_str();
  try {
    const tkException* exception = dynamic_cast<const tkException*>(this);
    if (exception == nullptr)
      return "toolkit exception";
    const tkExceptionWithString* withString = dynamic_cast<const tkExceptionWithString*>(exception);
    if (withString != nullptr && !withString->message().empty()) {
      text_ = tk_toUtf8Lenient(withString->message());
    } else {
      text_ = tk_qualifiedClassName(typeid(*exception));
    }
  } catch (...) {
    return "toolkit exception (no memory for its text)";
  }
  return text_.c_str();
}

// ---- tkException -----------------------------------------------------------------------------

tkException::~tkException() = default;

void tkException::suicideAndRethrow() {
  throw tkInvariantFailure(L"the class " +
                           tk_printableText(tk_qualifiedClassName(typeid(*this)), 200) +
                           L" does not implement suicideAndRethrow");
}

TK_DEFINE_DISPATCH_SERIALIZE(tkException, 0)

void tkException::serialize_(tkArchive& ar, unsigned char version) {
  if (version != 0)
    throw tkArchive::UnknownVersion("tkException", 0);
  tkPersistent::dispatchSerialize(ar);
}

// ---- tkExceptionWithString -------------------------------------------------------------------

tkExceptionWithString::tkExceptionWithString(const std::wstring& message)
    : message_text_(message) {}

tkExceptionWithString::~tkExceptionWithString() = default;

void tkExceptionWithString::message_(std::wostream& out) const {
  out << message_text_;
}

void tkExceptionWithString::setMessage(const std::wstring& message) {
  message_text_ = message;
  forgetText();
}

TK_DEFINE_DISPATCH_SERIALIZE(tkExceptionWithString, 0)

void tkExceptionWithString::serialize_(tkArchive& ar, unsigned char version) {
  if (version != 0)
    throw tkArchive::UnknownVersion("tkExceptionWithString", 0);
  tkException::dispatchSerialize(ar);
  if (ar.isStoring()) {
    ar || message_text_;
  } else {
    std::wstring message;
    ar || message;
    setMessage(message);
  }
}

// ---- tkMathError::Singular -------------------------------------------------------------------

tk_Instantiator tkMathError::Singular::sExemplar(typeid(tkMathError::Singular),
                                                 &tkMathError::Singular::make);

tkMathError::Singular::~Singular() = default;

long tkMathError::Singular::errorNumber() const {
  return 0x10000100;
}

TK_DEFINE_SUICIDE_AND_RETHROW(tkMathError::Singular)

tkPersistent* tkMathError::Singular::make() {
  return new Singular;
}

TK_DEFINE_DISPATCH_SERIALIZE(tkMathError::Singular, 0)

void tkMathError::Singular::serialize_(tkArchive& ar, unsigned char version) {
  if (version != 0)
    throw tkArchive::UnknownVersion("tkMathError::Singular", 0);
  tkException::dispatchSerialize(ar);
}

// ---- tkBadPointer ----------------------------------------------------------------------------

tk_Instantiator tkBadPointer::sExemplar(typeid(tkBadPointer), &tkBadPointer::make);

tkBadPointer::tkBadPointer(const std::wstring& message) : tkExceptionWithString(message) {}

tkBadPointer::~tkBadPointer() = default;

long tkBadPointer::errorNumber() const {
  return 0x10000101;
}

TK_DEFINE_SUICIDE_AND_RETHROW(tkBadPointer)

tkPersistent* tkBadPointer::make() {
  return new tkBadPointer;
}

TK_DEFINE_DISPATCH_SERIALIZE(tkBadPointer, 0)

void tkBadPointer::serialize_(tkArchive& ar, unsigned char version) {
  if (version != 0)
    throw tkArchive::UnknownVersion("tkBadPointer", 0);
  tkExceptionWithString::dispatchSerialize(ar);
}

// ---- tkInvariantFailure ----------------------------------------------------------------------

tk_Instantiator tkInvariantFailure::sExemplar(typeid(tkInvariantFailure),
                                              &tkInvariantFailure::make);

tkInvariantFailure::tkInvariantFailure(const std::wstring& message)
    : tkExceptionWithString(message) {}

tkInvariantFailure::~tkInvariantFailure() = default;

long tkInvariantFailure::errorNumber() const {
  return 0x10000102;
}

TK_DEFINE_SUICIDE_AND_RETHROW(tkInvariantFailure)

tkPersistent* tkInvariantFailure::make() {
  return new tkInvariantFailure;
}

TK_DEFINE_DISPATCH_SERIALIZE(tkInvariantFailure, 0)

void tkInvariantFailure::serialize_(tkArchive& ar, unsigned char version) {
  if (version != 0)
    throw tkArchive::UnknownVersion("tkInvariantFailure", 0);
  tkExceptionWithString::dispatchSerialize(ar);
}
