#include "install_manager/endpoints.h"

#include "common/build_config.h"

namespace kx {

namespace {

std::string on(HostRole role, const char* pathAndQuery) {
  return "https://" + hostName(role) + pathAndQuery;
}

constexpr const char* kMapSearch = "/api/qvms/map/search_by_file_name?fileName=";

}  // namespace

std::vector<EndpointRow> buildEndpointTable() {
  using R = HostRole;
  return {
      {"uat", on(R::U1, "/pl/platform_latest_installer_uat.txt"), on(R::U1, "/pl/up1_patchlist_uat"), "", ""},
      {"kestrixuat", on(R::U1, "/pl/platform_latest_installer_kestrixuat.txt"), on(R::U1, "/pl/up1_patchlist_uat"),
       on(R::MT, kMapSearch), ""},
      {"map", on(R::U1, "/pl/platform_latest_installer_match.txt"), on(R::U1, "/pl/up1_patchlist"),
       on(R::MM, kMapSearch), ""},
      {"prodna", on(R::N1, "/pl/platform_latest_installer_upna_prod.txt"), on(R::N2, "/pl/up1_patchlist_prodna"),
       on(R::MO, kMapSearch), ""},
      {"prodnauat", on(R::N1, "/pl/platform_latest_installer_upna_uat.txt"), on(R::N2, "/pl/up1_patchlist_uatna"),
       on(R::MOT, kMapSearch), ""},
      {"prod", on(R::U1, "/pl/platform_latest_installer_prod.txt"), on(R::U1, "/pl/up1_patchlist_prod"),
       on(R::MP, kMapSearch), on(R::U1, "/pl/up1_patchlist_prod_bao")},
      {"edu", on(R::U3, "/pl/platform_latest_installer_edu.txt"), on(R::U1, "/pl/up1_patchlist_edu"),
       on(R::ME, kMapSearch), ""},
      {"qv", on(R::C, "/4/pf/ver/latest_platform_installer.json"), on(R::U5, "/pl/up1_patchlist_produp5"),
       on(R::G, "/message/v1/installer/background?mapId="), ""},
      {"kestrix", "", on(R::U5, "/pl/up1_patchlist_produp5"), "", ""},
      {"kestrixna", "", on(R::N3, "/pl/up1_patchlist_lumlum"), "", ""},
  };
}

}  // namespace kx
