#include "platform/codepage.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cstring>

#include "common/strings.h"

namespace kx::platform {

namespace {

// Names the locale's character set once; "C" and "POSIX" locales (plain
// ASCII) are taken as UTF-8, which is what Linux file names are in practice.
const std::string& fileSystemCharset() {
  static const std::string charset = [] {
    std::string name = "UTF-8";
    if (locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0))) {
      const char* codeset = nl_langinfo_l(CODESET, loc);
      if (codeset && *codeset && std::strcmp(codeset, "ANSI_X3.4-1968") != 0) name = codeset;
      freelocale(loc);
    }
    return name;
  }();
  return charset;
}

bool isUtf8(const std::string& charset) { return charset == "UTF-8" || charset == "utf8"; }

// Converts text with iconv; an input sequence it cannot convert is skipped
// (its length found by `skip`) and `substitute` is written in its place.
template <typename SkipFn>
std::string convert(const char* to, const char* from, std::string_view input, std::string_view substitute,
                    SkipFn skip) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(input);
  std::string out;
  char buffer[4096];
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      const std::size_t n = std::min<std::size_t>(inLeft, skip(std::string_view(in, inLeft)));
      in += n;
      inLeft -= n;
      out += substitute;
    }
  }
  iconv_close(cd);
  return out;
}

std::size_t utf8SequenceLength(std::string_view s) {
  const auto lead = static_cast<unsigned char>(s[0]);
  std::size_t n = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
  return n;
}

// In GBK a lead byte above 0x80 starts a two-byte character.
std::size_t gbkSequenceLength(std::string_view s) {
  return static_cast<unsigned char>(s[0]) > 0x80 && s.size() > 1 ? 2 : 1;
}

const std::string kUtf8Replacement = "\xEF\xBF\xBD";

}  // namespace

std::string wideToFileSystem(std::wstring_view wide) {
  const std::string utf8 = toUtf8(wide);
  const std::string& charset = fileSystemCharset();
  if (isUtf8(charset)) return utf8;
  return convert(charset.c_str(), "UTF-8", utf8, "?", utf8SequenceLength);
}

std::wstring fileSystemToWide(std::string_view narrow) {
  const std::string& charset = fileSystemCharset();
  if (isUtf8(charset)) return fromUtf8(narrow);
  return fromUtf8(convert("UTF-8", charset.c_str(), narrow, kUtf8Replacement, [](std::string_view) -> std::size_t { return 1; }));
}

std::string wideToCp936(std::wstring_view wide) {
  return convert("CP936", "UTF-8", toUtf8(wide), "?", utf8SequenceLength);
}

std::wstring cp936ToWide(std::string_view narrow) {
  return fromUtf8(convert("UTF-8", "CP936", narrow, kUtf8Replacement, gbkSequenceLength));
}

}  // namespace kx::platform
