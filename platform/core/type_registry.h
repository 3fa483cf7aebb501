// The type registry behind tk_Instantiator (internal to the core library): which factory makes
// the class of a registered name, and which name a registered class is filed under.
#ifndef TK_CORE_TYPE_REGISTRY_H
#define TK_CORE_TYPE_REGISTRY_H

#include <tk/persistent.h>

#include <string>
#include <typeinfo>

using tk_PersistentFactory = tkPersistent* (*)();

// The class's qualified C++ name as written in the source ("tkMathError::Singular"), the same
// text on every compiler: demangled on GCC and Clang, without the "class "/"struct " prefixes
// on MSVC. An anonymous namespace reads "(anonymous namespace)".
std::string tk_qualifiedClassName(const std::type_info& type);

// Files factory under the name of type (see tk_Instantiator for repeated and clashing names).
void tk_registerPersistentType(const std::type_info& type, tk_PersistentFactory factory);

// The name type is registered under; false when it is not registered.
bool tk_registeredName(const std::type_info& type, std::string& name);

// The factory registered under name, or null.
tk_PersistentFactory tk_findPersistentFactory(const std::string& name);

#endif
