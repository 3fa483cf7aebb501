// Failures reported by the procedural layer as negative status codes, and their conversion into
// exceptions.
//
// A status is a signed 32-bit value that travels in a long, sign-extended: 0x80001001 arrives as
// -2147479551. Compare statuses by their 32-bit pattern (static_cast<int32_t>(status)), never
// against a long literal such as 0x80001001L, which is positive where long has 64 bits.
#ifndef TK_FAILURE_H
#define TK_FAILURE_H

#include <tk/exception.h>
#include <tk/export.h>

// A negative status for which no registered converter threw. errorNumber() is the status.
// what() names the status in hexadecimal (its 32-bit pattern) and in decimal.
class TK_API tkProcedureFailure : public tkExceptionWithString {
 public:
  explicit tkProcedureFailure(long status);
  tkProcedureFailure(const tkProcedureFailure&) = default;
  tkProcedureFailure& operator=(const tkProcedureFailure&) = default;
  ~tkProcedureFailure() override;
  long errorNumber() const override { return status_; }
  void suicideAndRethrow() override;

 protected:
  // Archived form: version byte 0, the tkExceptionWithString part, the status as a long.
  void dispatchSerialize(tkArchive& ar) override;
  void serialize_(tkArchive& ar, unsigned char version);

 private:
  static tkPersistent* make();
  static tk_Instantiator sExemplar;
  long status_;
};

// Registers converter for the statuses whose bits 24-31 (of the 32-bit pattern) equal key, a
// value 0..255. A converter throws the exception that corresponds to a status it knows and
// returns for any other. Registering the same converter under the same key again keeps one
// entry; converters under one key are called in the order of their first registration. Safe to
// call from static initialisers of any translation unit and from several threads. Throws
// tkBadPointer for a null converter and tkInvariantFailure for a key outside 0..255.
TK_API void tfRegisterExceptionConverter(long key, void (*converter)(long status));

// Returns when status >= 0. Otherwise calls, in registration order, every converter registered
// under the key of the status (bits 24-31: 0x80001001 has key 128); if none throws, throws
// tkProcedureFailure(status).
TK_API void tfThrowExceptionOnFailure(long status);

#endif
