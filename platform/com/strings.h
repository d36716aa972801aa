#pragma once

// Text conversions at the boundaries. "ANSI" strings of the program's interfaces are UTF-8 here;
// the platform's wide strings are wchar_t (UTF-32 on Linux).

#include <cstddef>
#include <string>
#include <string_view>

namespace quil {

// Bytes that are not UTF-8 survive the round trip Narrow(Widen(bytes)), so any file name can
// pass through the wide interfaces.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

// True when text is well-formed UTF-8.
bool IsUtf8(std::string_view text);

// Copies text into a fixed buffer of `capacity` bytes, always terminated, cut on a UTF-8
// character boundary. Returns the number of bytes copied without the terminator.
size_t CopyBounded(std::string_view text, char* buffer, size_t capacity);

// The longest prefix of text of at most maxBytes bytes that ends on a character boundary.
std::string_view Utf8Prefix(std::string_view text, size_t maxBytes);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view text);

}  // namespace quil
