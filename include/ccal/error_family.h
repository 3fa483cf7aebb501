// Declarations shared by the library's error families.
//
// Every public scope of the library reports failures through one family of exceptions:
//
//   tkPersistent <- tkException <- tkExceptionWithString <- <Scope>::Errors <- <Scope>::<Leaf>
//
// A caller catches a whole family through <Scope>::Errors, one failure through its leaf, or any
// failure of the toolkit through tkException (or std::exception). The only state is the wide
// message of tkExceptionWithString; each leaf answers a constant errorNumber(). Families are
// persistent: a leaf stored through a tkPersistent* is recreated by a reader that knows only the
// archive (each leaf is registered under its qualified name, e.g. "tk_MulticameraCalibrationDefs::
// BadParams"). The archived form of a leaf is its version byte (0), the Errors version byte (0)
// and the tkExceptionWithString part; the error number is never archived.
//
// Virtual operations in slot order: destructor, dispatchSerialize, reInit, loadSimple,
// errorNumber, suicideAndRethrow, message_.
#ifndef CCAL_ERROR_FAMILY_H
#define CCAL_ERROR_FAMILY_H

#include <ccal/export.h>
#include <tk/archive.h>
#include <tk/exception.h>
#include <tk/persistent.h>

#include <string>

// Declares the abstract Errors class of a family inside its scope class.
#define CCAL_DECLARE_ERRORS_CLASS()                                \
  class CCAL_API Errors : public tkExceptionWithString {           \
   public:                                                         \
    Errors(const Errors& other);                                   \
    Errors& operator=(const Errors& other);                        \
    ~Errors() override;                                            \
    long errorNumber() const override = 0;                         \
    void suicideAndRethrow() override = 0;                         \
                                                                   \
   protected:                                                      \
    explicit Errors(const std::wstring& message = std::wstring()); \
    void dispatchSerialize(tkArchive& ar) override;                \
    void serialize_(tkArchive& ar, unsigned char version);         \
  }

// Declares a leaf class of a family inside its scope class (after CCAL_DECLARE_ERRORS_CLASS).
// errorNumber() answers the leaf's constant; suicideAndRethrow() destroys a heap object (as
// make() creates it) and throws a copy of it by value.
#define CCAL_DECLARE_ERROR_LEAF(Leaf)                            \
  class CCAL_API Leaf : public Errors {                          \
   public:                                                       \
    explicit Leaf(const std::wstring& message = std::wstring()); \
    Leaf(const Leaf& other);                                     \
    Leaf& operator=(const Leaf& other);                          \
    ~Leaf() override;                                            \
    long errorNumber() const override;                           \
    void suicideAndRethrow() override;                           \
                                                                 \
   protected:                                                    \
    void dispatchSerialize(tkArchive& ar) override;              \
    void serialize_(tkArchive& ar, unsigned char version);       \
                                                                 \
   private:                                                      \
    static tkPersistent* make();                                 \
    static tk_Instantiator sExemplar;                            \
  }

// Body shared by the scope classes: no data, and a copy assignment that does nothing.
#define CCAL_ERROR_SCOPE_BODY(Scope) \
 public:                             \
  Scope() = default;                 \
  Scope(const Scope&) = default;     \
  Scope& operator=(const Scope&) {   \
    return *this;                    \
  }

#endif
