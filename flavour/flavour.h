#pragma once
// The build flavour: one product string fixed at build time and the seven flags
// derived from it. Every difference between flavours tests one flag where it acts.

#include <cstddef>

namespace kx {

extern const char productFlavour[];

extern const bool isQv;
extern const bool isEdu;
extern const bool isProd;
extern const bool isProdNa;
extern const bool isProdNaUat;
extern const bool isKestrix;  // "kestrix" and "kestrixna"
extern const bool isKestrixUat;

// ASCII case-insensitive equality, usable in constant initialisation so the
// flags are set before any dynamic initialiser could read them.
constexpr bool flavourNameIs(const char* product, const char* name) {
  std::size_t i = 0;
  for (; product[i] != '\0' && name[i] != '\0'; ++i) {
    char a = product[i], b = name[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return product[i] == name[i];
}

}  // namespace kx
