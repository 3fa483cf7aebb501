// Definitions behind the declarations of <ccal/error_family.h>. Each family's .cpp file expands
// these once per class; the leaves' sExemplar objects are defined in registration.cpp, where
// their order of construction is fixed.
#ifndef CCAL_FOUNDATION_ERROR_FAMILY_IMPL_H
#define CCAL_FOUNDATION_ERROR_FAMILY_IMPL_H

#include <ccal/error_family.h>

#include "platform/core/persistent_class.h"

#define CCAL_DEFINE_ERRORS_CLASS(Scope)                                                  \
  Scope::Errors::Errors(const std::wstring& message) : tkExceptionWithString(message) {} \
  Scope::Errors::Errors(const Errors& other) = default;                                  \
  Scope::Errors& Scope::Errors::operator=(const Errors& other) {                         \
    tkExceptionWithString::operator=(other);                                             \
    return *this;                                                                        \
  }                                                                                      \
  Scope::Errors::~Errors() = default;                                                    \
  TK_DEFINE_DISPATCH_SERIALIZE(Scope::Errors, 0)                                         \
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
  TK_DEFINE_SUICIDE_AND_RETHROW(Scope::Leaf)                           \
  tkPersistent* Scope::Leaf::make() {                                  \
    return new Leaf();                                                 \
  }                                                                    \
  TK_DEFINE_DISPATCH_SERIALIZE(Scope::Leaf, 0)                         \
  void Scope::Leaf::serialize_(tkArchive& ar, unsigned char version) { \
    if (version != 0)                                                  \
      throw tkArchive::UnknownVersion(#Scope "::" #Leaf, 0);           \
    Errors::dispatchSerialize(ar);                                     \
  }

// Defines the registration object of a leaf (in registration.cpp only).
#define CCAL_DEFINE_ERROR_EXEMPLAR(Scope, Leaf) \
  tk_Instantiator Scope::Leaf::sExemplar(typeid(Scope::Leaf), &Scope::Leaf::make)

#endif
