// Conversions between wide strings and UTF-8 (internal to the core library).
//
// A wide string holds UTF-32 where wchar_t has 32 bits (Linux, macOS) and UTF-16 where it has
// 16 bits (Windows); both forms convert to the same UTF-8.
#ifndef TK_CORE_UTF8_H
#define TK_CORE_UTF8_H

#include <cstddef>
#include <string>

// Strict encoding: returns false (out unspecified) when the text holds a value that is not a
// Unicode scalar value (a lone surrogate, or a value above 0x10FFFF).
bool tk_encodeUtf8(const std::wstring& text, std::string& out);

// Lenient encoding for diagnostics: invalid values become U+FFFD. Never fails.
std::string tk_toUtf8Lenient(const std::wstring& text);

// Strict decoding of size bytes: returns false (out unspecified) on a malformed sequence, an
// overlong form, a surrogate or a value above 0x10FFFF.
bool tk_decodeUtf8(const unsigned char* bytes, std::size_t size, std::wstring& out);

// Bytes of untrusted origin (a name read from an archive) as text for a message: at most
// maxBytes bytes of it, valid UTF-8 as it is, anything else as \xNN escapes; "..." marks a cut.
std::wstring tk_printableText(const std::string& bytes, std::size_t maxBytes);

#endif
