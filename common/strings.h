#pragma once
// Exact conversions between UTF-8 and wide strings. Wide strings are UTF-16
// where wchar_t has 16 bits (surrogate pairs) and UTF-32 where it has 32.

#include <string>
#include <string_view>

namespace kx {

// Invalid input (broken UTF-8, lone surrogates, values above U+10FFFF) becomes U+FFFD.
std::string toUtf8(std::wstring_view wide);
std::wstring fromUtf8(std::string_view utf8);
// UTF-16 code units (as Windows files hold text) to a wide string.
std::wstring fromUtf16(std::u16string_view utf16);

// Lower-cases ASCII letters only; used for protocol tokens, never for user text.
std::string asciiLower(std::string_view text);

}  // namespace kx
