// Base exceptions of the core library.
//
// Every failure of the toolkit is thrown as a tkException. The class tree is
//
//   tkPersistent <- tkException <- tkExceptionWithString <- (families and leaves)
//
// with single inheritance along that chain, so every exception is persistent and can be stored
// in an archive, read back by a reader that knows only the archive, and rethrown there with
// suicideAndRethrow(). tkException additionally derives, as its second base, from
// tk_ExceptionText (a std::exception): handlers for std::exception catch every toolkit exception
// and what() gives readable UTF-8 text, while the persistent chain stays the primary base and
// the virtual operations keep their order: destructor, dispatchSerialize, reInit, loadSimple,
// errorNumber, suicideAndRethrow, message_.
//
// what() is the UTF-8 form of the message when the exception carries a non-empty one, and the
// qualified class name ("tkMathError::Singular") otherwise.
//
// Error numbers of the core exceptions (each leaf answers its own constant, never archived):
//   tkMathError::Singular      0x10000100
//   tkBadPointer               0x10000101
//   tkInvariantFailure         0x10000102
//   tkArchive::UnknownVersion  0x10000103, tkArchive::Corrupt 0x10000104,
//   tkArchive::CannotStore     0x10000105, tkArchive::IOFailure 0x10000106  (<tk/archive.h>)
//   tkProcedureFailure         the failing status itself  (<tk/failure.h>)
#ifndef TK_EXCEPTION_H
#define TK_EXCEPTION_H

#include <tk/export.h>
#include <tk/persistent.h>

#include <exception>
#include <iosfwd>
#include <string>

// The std::exception side of every toolkit exception. Only tkException derives from it; its
// what() text is built from the tkException on first use and kept until the object changes.
class TK_API tk_ExceptionText : public std::exception {
 public:
  ~tk_ExceptionText() override;
  const char* what() const noexcept override;

 protected:
  tk_ExceptionText() = default;
  // Copies start without text: the copy builds its own from its own class and message.
  tk_ExceptionText(const tk_ExceptionText&) noexcept : std::exception() {}
  tk_ExceptionText& operator=(const tk_ExceptionText&) noexcept {
    forgetText();
    return *this;
  }
  // Drops the text built so far; called whenever the message changes.
  void forgetText() noexcept { text_.clear(); }

 private:
  mutable std::string text_;
};

class TK_API tkException : public tkPersistent, public tk_ExceptionText {
 public:
  ~tkException() override;

  // The toolkit-wide number of this failure (a constant of the leaf class).
  virtual long errorNumber() const = 0;

  // For an exception created with new (as the type registry creates them, e.g. after loading
  // from an archive): copies the object, deletes this object and throws the copy by value, so
  // the thrown object has the leaf's dynamic type. Every leaf of the toolkit overrides it. The
  // base version, for a class that does not, throws tkInvariantFailure and leaves the object
  // alive. std::bad_alloc passes.
  virtual void suicideAndRethrow();

 protected:
  tkException() = default;
  tkException(const tkException&) = default;
  tkException& operator=(const tkException&) = default;

  // Archived form: version byte 0, nothing else. Another version throws
  // tkArchive::UnknownVersion("tkException", 0).
  void dispatchSerialize(tkArchive& ar) override;
  void serialize_(tkArchive& ar, unsigned char version);
};

class TK_API tkExceptionWithString : public tkException {
 public:
  ~tkExceptionWithString() override;

  // The message given at construction (or read from an archive).
  const std::wstring& message() const { return message_text_; }
  // Writes the message to a wide output stream.
  virtual void message_(std::wostream& out) const;

 protected:
  explicit tkExceptionWithString(const std::wstring& message = std::wstring());
  tkExceptionWithString(const tkExceptionWithString&) = default;
  tkExceptionWithString& operator=(const tkExceptionWithString&) = default;

  // Replaces the message (and the what() text built from it).
  void setMessage(const std::wstring& message);

  // Archived form: version byte 0, the tkException part, then the message as a wide string.
  // Another version throws tkArchive::UnknownVersion("tkExceptionWithString", 0).
  void dispatchSerialize(tkArchive& ar) override;
  void serialize_(tkArchive& ar, unsigned char version);

 private:
  std::wstring message_text_;
};

// The members every persistent exception class declares after its constructors: copy, the
// destructor, errorNumber(), suicideAndRethrow() (destroys a heap object, as make() creates it,
// and throws a copy by value), the archive hooks (version byte 0, then the base's part) and the
// registration with the type registry. Leaves the class in its private section.
#define TK_PERSISTENT_EXCEPTION_MEMBERS(Class)           \
 public:                                                 \
  Class(const Class&) = default;                         \
  Class& operator=(const Class&) = default;              \
  ~Class() override;                                     \
  long errorNumber() const override;                     \
  void suicideAndRethrow() override;                     \
                                                         \
 protected:                                              \
  void dispatchSerialize(tkArchive& ar) override;        \
  void serialize_(tkArchive& ar, unsigned char version); \
                                                         \
 private:                                                \
  static tkPersistent* make();                           \
  static tk_Instantiator sExemplar

// Scope of numerical failures.
class TK_API tkMathError {
 public:
  // A matrix or system is singular, or its condition exceeds the caller's threshold.
  class TK_API Singular : public tkException {
   public:
    Singular() = default;
    TK_PERSISTENT_EXCEPTION_MEMBERS(Singular);  // errorNumber 0x10000100
  };
};

// A pointer argument is null or does not refer to an object of the expected kind. The message
// names the argument.
class TK_API tkBadPointer : public tkExceptionWithString {
 public:
  explicit tkBadPointer(const std::wstring& message = std::wstring());
  TK_PERSISTENT_EXCEPTION_MEMBERS(tkBadPointer);  // errorNumber 0x10000101
};

// A condition the toolkit relies on does not hold (an internal inconsistency or a misuse that
// no argument check caught). The message says which condition failed.
class TK_API tkInvariantFailure : public tkExceptionWithString {
 public:
  explicit tkInvariantFailure(const std::wstring& message = std::wstring());
  TK_PERSISTENT_EXCEPTION_MEMBERS(tkInvariantFailure);  // errorNumber 0x10000102
};

#endif
