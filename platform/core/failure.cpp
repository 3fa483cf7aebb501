#include <tk/archive.h>
#include <tk/failure.h>
#include "platform/core/persistent_class.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace {

using Converter = void (*)(long);

struct ConverterRegistry {
  std::mutex mutex;
  std::map<long, std::vector<Converter>> byKey;
};

// Created on first use, so registrations from static initialisers of any translation unit find
// it ready; never destroyed, so conversions keep working while other statics are destroyed.
ConverterRegistry& converters() {
  static ConverterRegistry* const instance = new ConverterRegistry;
  return *instance;
}

std::uint32_t statusBits(long status) {
  return static_cast<std::uint32_t>(status);
}

std::wstring statusText(long status) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring hex = L"0x";
  for (int shift = 28; shift >= 0; shift -= 4)
    hex += kHex[(statusBits(status) >> shift) & 0xF];
  return L"a procedure failed with status " + hex + L" (" + std::to_wstring(status) + L")";
}

}  // namespace

// ---- tkProcedureFailure ----------------------------------------------------------------------

tk_Instantiator tkProcedureFailure::sExemplar(typeid(tkProcedureFailure),
                                              &tkProcedureFailure::make);

tkProcedureFailure::tkProcedureFailure(long status)
    : tkExceptionWithString(statusText(status)), status_(status) {}

tkProcedureFailure::~tkProcedureFailure() = default;

TK_DEFINE_SUICIDE_AND_RETHROW(tkProcedureFailure)

tkPersistent* tkProcedureFailure::make() {
  return new tkProcedureFailure(0);
}

TK_DEFINE_DISPATCH_SERIALIZE(tkProcedureFailure, 0)

void tkProcedureFailure::serialize_(tkArchive& ar, unsigned char version) {
  if (version != 0)
    throw tkArchive::UnknownVersion("tkProcedureFailure", 0);
  tkExceptionWithString::dispatchSerialize(ar);
  ar || status_;
}

// ---- converters ------------------------------------------------------------------------------

void tfRegisterExceptionConverter(long key, void (*converter)(long status)) {
  if (converter == nullptr) {
    throw tkBadPointer(L"tfRegisterExceptionConverter: the converter is null");
  }
  if (key < 0 || key > 255) {
    throw tkInvariantFailure(L"tfRegisterExceptionConverter: the key " + std::to_wstring(key) +
                             L" is outside 0..255 (bits 24-31 of a status)");
  }
  ConverterRegistry& registry = converters();
  std::lock_guard<std::mutex> lock(registry.mutex);
  std::vector<Converter>& list = registry.byKey[key];
  if (std::find(list.begin(), list.end(), converter) == list.end())
    list.push_back(converter);
}

void tfThrowExceptionOnFailure(long status) {
  if (status >= 0)
    return;
  const long key = static_cast<long>((statusBits(status) >> 24) & 0xFFu);
  std::vector<Converter> list;
  {
    ConverterRegistry& registry = converters();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.byKey.find(key);
    if (found != registry.byKey.end())
      list = found->second;
  }
  // Converters run without the lock: they throw, and may themselves register converters.
  for (Converter converter : list)
    converter(status);
  throw tkProcedureFailure(status);
}
