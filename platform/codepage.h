#pragma once
// Code pages the operating system speaks: the file-system (ANSI) code page in
// which engines hand paths back, and code page 936 for registry key names.

#include <string>
#include <string_view>

namespace kx::platform {

// The locale's character set; UTF-8 when the locale names none beyond ASCII.
std::string wideToFileSystem(std::wstring_view wide);
std::wstring fileSystemToWide(std::string_view narrow);

// Code page 936 (GBK). Characters it cannot hold become '?', as the system's
// own conversion does; undecodable bytes become U+FFFD.
std::string wideToCp936(std::wstring_view wide);
std::wstring cp936ToWide(std::string_view narrow);

}  // namespace kx::platform
