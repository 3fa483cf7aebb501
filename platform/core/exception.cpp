#include <tk/exception.h>

#include <ostream>

namespace {
// UTF-8 encoding of a wide string (UTF-32 on Linux, UTF-16 on Windows).
std::string toUtf8(const std::wstring& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned long c = static_cast<unsigned long>(text[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      unsigned long low = static_cast<unsigned long>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c > 0x10FFFF) c = 0xFFFD;
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
  return out;
}
}  // namespace

tkException::~tkException() = default;

const char* tkException::what() const noexcept {
  try {
    whatText_ = describe();
  } catch (...) {
    return "tkException";
  }
  return whatText_.c_str();
}

std::string tkException::describe() const { return "tkException"; }

tkExceptionWithString::~tkExceptionWithString() = default;

void tkExceptionWithString::message_(std::wostream& out) const { out << message_text_; }

std::string tkExceptionWithString::describe() const { return toUtf8(message_text_); }

tkMathError::Singular::~Singular() = default;

long tkMathError::Singular::errorNumber() const { return 0x10000100; }

std::string tkMathError::Singular::describe() const { return "tkMathError::Singular"; }
