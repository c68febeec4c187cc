// Launch links that start the platform on the map this installer was made for.
#include <cryptopp/base64.h>
#include <cryptopp/filters.h>

#include "flavour/flavour.h"
#include "install_manager/install_man.h"
#include "platform/codepage.h"

namespace kx {

namespace {

std::string base64WithoutLineBreaks(const std::string& bytes) {
  std::string encoded;
  CryptoPP::StringSource source(bytes, true,
                                new CryptoPP::Base64Encoder(new CryptoPP::StringSink(encoded), false));
  return encoded;
}

}  // namespace

std::wstring InstallMan::buildLaunchArgs() const {
  if (mapId.empty()) return L"";
  if (!isQv) return L"--customgame=" + mapId;
  const std::wstring query =
      isIndependent ? L"gameid=" + mapId
                    : L"gametype=" + std::wstring(isKestrixMap ? L"kestrix" : L"war3rpg") + L"&download=1&mapid=" + mapId;
  const std::string encoded = base64WithoutLineBreaks(platform::wideToFileSystem(query));
  // Base64 text is ASCII; it goes into the link as it is, without URL escaping.
  return (isIndependent ? L"zzarenahq://indiegame?" : L"zzarenahq://viewmap?") +
         std::wstring(encoded.begin(), encoded.end());
}

}  // namespace kx
