// Definitions behind the declarations of <ccal/error_family.h>. Each family's .cpp file expands
// these once per class; the leaves' sExemplar objects are defined in registration.cpp, where
// their order of construction is fixed.
#ifndef CCAL_FOUNDATION_ERROR_FAMILY_IMPL_H
#define CCAL_FOUNDATION_ERROR_FAMILY_IMPL_H

#include <ccal/error_family.h>

// Moves the version byte, runs serialize_ and marks the object visited, once per archive
// operation. The current version of every family class is 0.
#define CCAL_ERROR_DISPATCH_SERIALIZE(Class)     \
  void Class::dispatchSerialize(tkArchive& ar) { \
    if (haveVisited(this, sizeof(*this)))        \
      return;                                    \
    unsigned char version = 0;                   \
    ar || version;                               \
    serialize_(ar, version);                     \
    setVisited(this, sizeof(*this));             \
  }

#define CCAL_DEFINE_ERRORS_CLASS(Scope)                                                  \
  Scope::Errors::Errors(const std::wstring& message) : tkExceptionWithString(message) {} \
  Scope::Errors::Errors(const Errors& other) = default;                                  \
  Scope::Errors& Scope::Errors::operator=(const Errors& other) {                         \
    tkExceptionWithString::operator=(other);                                             \
    return *this;                                                                        \
  }                                                                                      \
  Scope::Errors::~Errors() = default;                                                    \
  CCAL_ERROR_DISPATCH_SERIALIZE(Scope::Errors)                                           \
  void Scope::Errors::serialize_(tkArchive& ar, unsigned char version) {                 \
    if (version != 0)                                                                    \
      throw tkArchive::UnknownVersion(#Scope "::Errors", 0);                             \
    tkExceptionWithString::dispatchSerialize(ar);                                        \
  }

#define CCAL_DEFINE_ERROR_LEAF(Scope, Leaf, number)                    \
  Scope::Leaf::Leaf(const std::wstring& message) : Errors(message) {}  \
  Scope::Leaf::Leaf(const Leaf& other) = default;                      \
  Scope::Leaf& Scope::Leaf::operator=(const Leaf& other) {             \
    Errors::operator=(other);                                          \
    return *this;                                                      \
  }                                                                    \
  Scope::Leaf::~Leaf() = default;                                      \
  long Scope::Leaf::errorNumber() const {                              \
    return number;                                                     \
  }                                                                    \
  void Scope::Leaf::suicideAndRethrow() {                              \
    Leaf copy(*this);                                                  \
    delete this;                                                       \
    throw copy;                                                        \
  }                                                                    \
  tkPersistent* Scope::Leaf::make() {                                  \
    return new Leaf();                                                 \
  }                                                                    \
  CCAL_ERROR_DISPATCH_SERIALIZE(Scope::Leaf)                           \
  void Scope::Leaf::serialize_(tkArchive& ar, unsigned char version) { \
    if (version != 0)                                                  \
      throw tkArchive::UnknownVersion(#Scope "::" #Leaf, 0);           \
    Errors::dispatchSerialize(ar);                                     \
  }

// Defines the registration object of a leaf (in registration.cpp only).
#define CCAL_DEFINE_ERROR_EXEMPLAR(Scope, Leaf) \
  tk_Instantiator Scope::Leaf::sExemplar(typeid(Scope::Leaf), &Scope::Leaf::make)

#endif
