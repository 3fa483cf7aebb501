#include "platform/core/utf8.h"

namespace {

constexpr unsigned long kReplacement = 0xFFFD;

bool isSurrogate(unsigned long c) {
  return c >= 0xD800 && c < 0xE000;
}

// Reads the code point starting at text[i] (joining a UTF-16 surrogate pair where wchar_t has
// 16 bits) and advances i past it. Returns false for a value that is not a scalar value.
bool nextCodePoint(const std::wstring& text, std::size_t& i, unsigned long& c) {
  c = static_cast<unsigned long>(text[i]) & (sizeof(wchar_t) == 2 ? 0xFFFFul : 0xFFFFFFFFul);
  ++i;
  if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i < text.size()) {
    unsigned long low = static_cast<unsigned long>(text[i]) & 0xFFFFul;
    if (low >= 0xDC00 && low < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
  }
  return c <= 0x10FFFF && !isSurrogate(c);
}

void appendUtf8(unsigned long c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void appendWide(unsigned long c, std::wstring& out) {
  if (sizeof(wchar_t) == 2 && c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (c >> 10));
    out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<wchar_t>(c);
  }
}

}  // namespace

bool tk_encodeUtf8(const std::wstring& text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    unsigned long c = 0;
    if (!nextCodePoint(text, i, c))
      return false;
    appendUtf8(c, out);
  }
  return true;
}

std::string tk_toUtf8Lenient(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    unsigned long c = 0;
    appendUtf8(nextCodePoint(text, i, c) ? c : kReplacement, out);
  }
  return out;
}

bool tk_decodeUtf8(const unsigned char* bytes, std::size_t size, std::wstring& out) {
  out.clear();
  out.reserve(size);
  for (std::size_t i = 0; i < size;) {
    const unsigned char lead = bytes[i];
    std::size_t length = 0;
    unsigned long c = 0;
    unsigned long smallest = 0;  // smallest value this length may encode (rejects overlong forms)
    if (lead < 0x80) {
      length = 1;
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      c = lead & 0x1F;
      smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      c = lead & 0x0F;
      smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      c = lead & 0x07;
      smallest = 0x10000;
    } else {
      return false;
    }
    if (length > size - i)
      return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char follow = bytes[i + k];
      if ((follow & 0xC0) != 0x80)
        return false;
      c = (c << 6) | (follow & 0x3F);
    }
    if (c < smallest || c > 0x10FFFF || isSurrogate(c))
      return false;
    appendWide(c, out);
    i += length;
  }
  return true;
}

std::wstring tk_printableText(const std::string& bytes, std::size_t maxBytes) {
  const std::size_t shown = bytes.size() < maxBytes ? bytes.size() : maxBytes;
  const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::wstring text;
  if (!tk_decodeUtf8(data, shown, text)) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    text.clear();
    for (std::size_t i = 0; i < shown; ++i) {
      if (data[i] >= 0x20 && data[i] < 0x7F) {
        text += static_cast<wchar_t>(data[i]);
      } else {
        text += L"\\x";
        text += kHex[data[i] >> 4];
        text += kHex[data[i] & 0xF];
      }
    }
  }
  if (shown < bytes.size())
    text += L"...";
  return text;
}
