#include "platform/core/type_registry.h"

#include <tk/exception.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <typeindex>

#if defined(__GNUG__) || defined(__clang__)
#include <cxxabi.h>
#endif

namespace {

struct Entry {
  std::type_index type;
  tk_PersistentFactory factory;
};

struct Registry {
  std::mutex mutex;
  std::map<std::string, Entry> byName;
  std::map<std::type_index, std::string> nameOfType;
};

// Created on first use, so registrations from static initialisers of any translation unit find
// it ready; never destroyed, so it stays usable while other statics are destroyed.
Registry& registry() {
  static Registry* const instance = new Registry;
  return *instance;
}

#if defined(_MSC_VER) && !defined(__clang__)
void eraseAll(std::string& text, const std::string& word) {
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at)) {
    text.erase(at, word.size());
  }
}
#endif

}  // namespace

std::string tk_qualifiedClassName(const std::type_info& type) {
#if defined(__GNUG__) || defined(__clang__)
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  if (status == 0 && demangled)
    return demangled.get();
  return type.name();
#elif defined(_MSC_VER)
  std::string name = type.name();
  for (const char* word : {"class ", "struct ", "union ", "enum "})
    eraseAll(name, word);
  const std::string anonymous = "`anonymous namespace'";
  for (std::size_t at = name.find(anonymous); at != std::string::npos;
       at = name.find(anonymous, at)) {
    name.replace(at, anonymous.size(), "(anonymous namespace)");
  }
  return name;
#else
  return type.name();
#endif
}

void tk_registerPersistentType(const std::type_info& type, tk_PersistentFactory factory) {
  if (factory == nullptr) {
    throw tkBadPointer(L"tk_Instantiator: the factory is null");
  }
  std::string name = tk_qualifiedClassName(type);
  Registry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto found = reg.byName.find(name);
  if (found == reg.byName.end()) {
    reg.byName.emplace(name, Entry{std::type_index(type), factory});
  } else if (found->second.type != std::type_index(type)) {
    return;  // another class holds this name: the later one stays unregistered
  }
  reg.nameOfType[std::type_index(type)] = name;
}

bool tk_registeredName(const std::type_info& type, std::string& name) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto found = reg.nameOfType.find(std::type_index(type));
  if (found == reg.nameOfType.end())
    return false;
  name = found->second;
  return true;
}

tk_PersistentFactory tk_findPersistentFactory(const std::string& name) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto found = reg.byName.find(name);
  return found == reg.byName.end() ? nullptr : found->second.factory;
}
