// Base exceptions of the core library.
//
// Every failure of the toolkit is thrown as a tkException. Leaf classes answer a constant
// errorNumber(); tkExceptionWithString carries a wide-character message. Every exception also
// answers what() (UTF-8 of its message or of its class name) so that a plain std::exception
// handler prints something useful.
#ifndef TK_EXCEPTION_H
#define TK_EXCEPTION_H

#include <tk/export.h>

#include <exception>
#include <iosfwd>
#include <string>

class TK_API tkException : public std::exception {
 public:
  tkException() = default;
  tkException(const tkException&) = default;
  tkException& operator=(const tkException&) = default;
  ~tkException() override;

  // The toolkit-wide number of this failure.
  virtual long errorNumber() const = 0;
  // UTF-8 text describing the failure.
  const char* what() const noexcept override;

 protected:
  // Text returned by what(); filled lazily by derived classes.
  mutable std::string whatText_;
  virtual std::string describe() const;
};

class TK_API tkExceptionWithString : public tkException {
 public:
  ~tkExceptionWithString() override;
  const std::wstring& message() const { return message_text_; }
  // Writes the message to a wide output stream.
  virtual void message_(std::wostream& out) const;

 protected:
  explicit tkExceptionWithString(const std::wstring& message = std::wstring())
      : message_text_(message) {}
  tkExceptionWithString(const tkExceptionWithString&) = default;
  tkExceptionWithString& operator=(const tkExceptionWithString&) = default;
  std::string describe() const override;
  std::wstring message_text_;
};

// Scope of numerical failures.
class TK_API tkMathError {
 public:
  // A matrix or system is singular, or its condition exceeds the caller's threshold.
  class TK_API Singular : public tkException {
   public:
    Singular() = default;
    ~Singular() override;
    long errorNumber() const override;

   protected:
    std::string describe() const override;
  };
};

#endif
