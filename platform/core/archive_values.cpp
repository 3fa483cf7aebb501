// Archive operators of the basic values. The layouts are fixed by docs/archive-format.md; a
// change here breaks every archive already written.
#include <tk/archive.h>

#include "platform/core/utf8.h"

#include <cstdint>
#include <cstring>
#include <limits>

namespace {

static_assert(sizeof(int) == 4, "int is archived as 32 bits");
static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4,
              "float must be IEEE-754 binary32");
static_assert(std::numeric_limits<double>::is_iec559 && sizeof(double) == 8,
              "double must be IEEE-754 binary64");

void putU32(tkArchive& ar, std::uint32_t value) {
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  ar.writeBytes(bytes, 4);
}

std::uint32_t getU32(tkArchive& ar) {
  unsigned char bytes[4];
  ar.readBytes(bytes, 4);
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void putU64(tkArchive& ar, std::uint64_t value) {
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i)
    bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  ar.writeBytes(bytes, 8);
}

std::uint64_t getU64(tkArchive& ar) {
  unsigned char bytes[8];
  ar.readBytes(bytes, 8);
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i)
    value |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
  return value;
}

std::int32_t toSigned32(std::uint32_t bits) {
  // Two's complement read without relying on implementation-defined narrowing.
  return bits <= 0x7FFFFFFFu ? static_cast<std::int32_t>(bits)
                             : -static_cast<std::int32_t>(~bits) - 1;
}

// Byte count of a text, checked to fit the 32-bit count.
std::uint32_t textLength(std::size_t size) {
  if (static_cast<unsigned long long>(size) > 0xFFFFFFFFull) {
    throw tkArchive::CannotStore(L"a text is longer than 2^32 - 1 bytes");
  }
  return static_cast<std::uint32_t>(size);
}

// Reads a 32-bit byte count and that many bytes, after checking they are there.
std::string getBytes(tkArchive& ar) {
  const std::uint32_t count = getU32(ar);
  ar.requireItems(count, 1);
  std::string bytes(count, '\0');
  if (count > 0)
    ar.readBytes(&bytes[0], count);
  return bytes;
}

}  // namespace

tkArchive& operator||(tkArchive& ar, bool& value) {
  if (ar.isStoring()) {
    const unsigned char byte = value ? 1 : 0;
    ar.writeBytes(&byte, 1);
    return ar;
  }
  unsigned char byte = 0;
  ar.readBytes(&byte, 1);
  if (byte > 1) {
    throw tkArchive::Corrupt(L"the archive is corrupt: the boolean at offset " +
                             std::to_wstring(ar.position() - 1) + L" is " + std::to_wstring(byte) +
                             L", not 0 or 1");
  }
  value = byte == 1;
  return ar;
}

tkArchive& operator||(tkArchive& ar, unsigned char& value) {
  if (ar.isStoring()) {
    ar.writeBytes(&value, 1);
  } else {
    ar.readBytes(&value, 1);
  }
  return ar;
}

tkArchive& operator||(tkArchive& ar, signed char& value) {
  unsigned char byte = static_cast<unsigned char>(value);
  ar || byte;
  if (ar.isLoading()) {
    value = static_cast<signed char>(byte < 0x80 ? static_cast<int>(byte)
                                                 : static_cast<int>(byte) - 256);
  }
  return ar;
}

tkArchive& operator||(tkArchive& ar, int& value) {
  if (ar.isStoring()) {
    putU32(ar, static_cast<std::uint32_t>(value));
  } else {
    value = toSigned32(getU32(ar));
  }
  return ar;
}

tkArchive& operator||(tkArchive& ar, unsigned int& value) {
  if (ar.isStoring()) {
    putU32(ar, value);
  } else {
    value = getU32(ar);
  }
  return ar;
}

tkArchive& operator||(tkArchive& ar, long& value) {
  if (ar.isStoring()) {
    const long long wide = value;
    if (wide < -2147483648LL || wide > 2147483647LL) {
      throw tkArchive::CannotStore(L"the long value " + std::to_wstring(value) +
                                   L" does not fit the archive's signed 32 bits");
    }
    putU32(ar, static_cast<std::uint32_t>(value));
  } else {
    value = toSigned32(getU32(ar));
  }
  return ar;
}

tkArchive& operator||(tkArchive& ar, unsigned long& value) {
  if (ar.isStoring()) {
    const unsigned long long wide = value;
    if (wide > 0xFFFFFFFFull) {
      throw tkArchive::CannotStore(L"the unsigned long value " + std::to_wstring(value) +
                                   L" does not fit the archive's 32 bits");
    }
    putU32(ar, static_cast<std::uint32_t>(value));
  } else {
    value = getU32(ar);
  }
  return ar;
}

tkArchive& operator||(tkArchive& ar, float& value) {
  std::uint32_t bits = 0;
  if (ar.isStoring()) {
    std::memcpy(&bits, &value, 4);
    putU32(ar, bits);
  } else {
    bits = getU32(ar);
    std::memcpy(&value, &bits, 4);
  }
  return ar;
}

tkArchive& operator||(tkArchive& ar, double& value) {
  std::uint64_t bits = 0;
  if (ar.isStoring()) {
    std::memcpy(&bits, &value, 8);
    putU64(ar, bits);
  } else {
    bits = getU64(ar);
    std::memcpy(&value, &bits, 8);
  }
  return ar;
}

tkArchive& operator||(tkArchive& ar, std::string& value) {
  if (ar.isStoring()) {
    putU32(ar, textLength(value.size()));
    ar.writeBytes(value.data(), value.size());
  } else {
    value = getBytes(ar);
  }
  return ar;
}

tkArchive& operator||(tkArchive& ar, std::wstring& value) {
  if (ar.isStoring()) {
    std::string utf8;
    if (!tk_encodeUtf8(value, utf8)) {
      throw tkArchive::CannotStore(
          L"a wide string holds a value that is not a Unicode character (a lone surrogate or a "
          L"value above 0x10FFFF)");
    }
    putU32(ar, textLength(utf8.size()));
    ar.writeBytes(utf8.data(), utf8.size());
    return ar;
  }
  const std::size_t start = ar.position();
  const std::string utf8 = getBytes(ar);
  std::wstring text;
  if (!tk_decodeUtf8(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(), text)) {
    throw tkArchive::Corrupt(L"the archive is corrupt: the text at offset " +
                             std::to_wstring(start) + L" is not valid UTF-8");
  }
  value.swap(text);
  return ar;
}
