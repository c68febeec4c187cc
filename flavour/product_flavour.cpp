// Compiled once per flavour with KX_PRODUCT_FLAVOUR set by the build.
#include "flavour/flavour.h"

#ifndef KX_PRODUCT_FLAVOUR
#error "KX_PRODUCT_FLAVOUR must name the build flavour"
#endif

namespace kx {

extern const char productFlavour[] = KX_PRODUCT_FLAVOUR;

extern const bool isQv = flavourNameIs(KX_PRODUCT_FLAVOUR, "qv");
extern const bool isEdu = flavourNameIs(KX_PRODUCT_FLAVOUR, "edu");
extern const bool isProd = flavourNameIs(KX_PRODUCT_FLAVOUR, "prod");
extern const bool isProdNa = flavourNameIs(KX_PRODUCT_FLAVOUR, "prodna");
extern const bool isProdNaUat = flavourNameIs(KX_PRODUCT_FLAVOUR, "prodnauat");
extern const bool isKestrix =
    flavourNameIs(KX_PRODUCT_FLAVOUR, "kestrix") || flavourNameIs(KX_PRODUCT_FLAVOUR, "kestrixna");
extern const bool isKestrixUat = flavourNameIs(KX_PRODUCT_FLAVOUR, "kestrixuat");

}  // namespace kx
