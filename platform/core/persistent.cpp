#include <tk/archive.h>
#include <tk/persistent.h>

#include "platform/core/type_registry.h"
#include "platform/core/utf8.h"
#include "platform/core/visited_marks.h"

#include <memory>
#include <string>
#include <typeinfo>

namespace {

std::wstring classNameText(const std::type_info& type) {
  return tk_printableText(tk_qualifiedClassName(type), 200);
}

// The registered name under which object (not null) is stored; throws tkArchive::CannotStore
// when it cannot be.
std::string nameForStoring(const tkPersistent& object) {
  std::string name;
  if (!tk_registeredName(typeid(object), name)) {
    throw tkArchive::CannotStore(L"the class " + classNameText(typeid(object)) +
                                 L" is not registered with tk_Instantiator");
  }
  // Visited marks make a second store of the same object write nothing after its name, which
  // no reader could tell apart from the next object: refuse it instead.
  const tk_VisitedMarks* marks = tk_activeVisitedMarks();
  if (marks != nullptr && marks->anyAt(&object)) {
    throw tkArchive::CannotStore(L"an object of class " + classNameText(typeid(object)) +
                                 L" is stored twice in one archive operation");
  }
  return name;
}

}  // namespace

tkPersistent::~tkPersistent() = default;

void tkPersistent::dispatchSerialize(tkArchive&) {}

void tkPersistent::reInit() {}

void tkPersistent::loadSimple(tkArchive&) {}

bool tkPersistent::haveVisited(const void* address, std::size_t size) {
  const tk_VisitedMarks* marks = tk_activeVisitedMarks();
  return marks != nullptr && marks->has(address, size);
}

void tkPersistent::setVisited(const void* address, std::size_t size) {
  tk_VisitedMarks* marks = tk_activeVisitedMarks();
  if (marks != nullptr)
    marks->add(address, size);
}

tk_Instantiator::tk_Instantiator(const std::type_info& type, tkPersistent* (*factory)()) {
  tk_registerPersistentType(type, factory);
}

tkArchive& operator||(tkArchive& ar, tkPersistent*& object) {
  tkArchive::Operation operation(ar);
  if (ar.isStoring()) {
    std::string name = object != nullptr ? nameForStoring(*object) : std::string();
    ar || name;
    if (object != nullptr)
      object->dispatchSerialize(ar);
    return ar;
  }
  const std::size_t nameOffset = ar.position();
  std::string name;
  ar || name;
  if (name.empty()) {
    object = nullptr;
    return ar;
  }
  const tk_PersistentFactory make = tk_findPersistentFactory(name);
  if (make == nullptr) {
    throw tkArchive::Corrupt(L"the archive names the class '" + tk_printableText(name, 200) +
                             L"' at offset " + std::to_wstring(nameOffset) +
                             L", which is not registered");
  }
  std::unique_ptr<tkPersistent> created(make());
  if (!created) {
    throw tkInvariantFailure(L"the factory registered for " + tk_printableText(name, 200) +
                             L" returned null");
  }
  created->dispatchSerialize(ar);
  created->reInit();
  object = created.release();
  return ar;
}

tkArchive& operator||(tkArchive& ar, tkPersistent& object) {
  tkArchive::Operation operation(ar);
  object.dispatchSerialize(ar);
  if (ar.isLoading())
    object.reInit();
  return ar;
}
