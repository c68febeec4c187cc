// Built once per flavour: the same expectations hold for whichever product
// string this executable was linked with.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "flavour/flavour.h"
#include "install_manager/install_man.h"
#include "tests/support/test_build_config.h"

namespace kx {
namespace {

struct Flags {
  bool qv, edu, prod, prodNa, prodNaUat, kestrix, kestrixUat;
  bool operator==(const Flags&) const = default;
};

TEST(Flavour, FlagsFollowTheProductStringIgnoringCase) {
  const std::map<std::string, Flags> expected = {
      {"kestrix", {false, false, false, false, false, true, false}},
      {"kestrixna", {false, false, false, false, false, true, false}},
      {"KESTRIX", {false, false, false, false, false, true, false}},
      {"qv", {true, false, false, false, false, false, false}},
      {"prod", {false, false, true, false, false, false, false}},
      {"edu", {false, true, false, false, false, false, false}},
  };
  const Flags actual{isQv, isEdu, isProd, isProdNa, isProdNaUat, isKestrix, isKestrixUat};
  ASSERT_TRUE(expected.count(productFlavour)) << productFlavour;
  EXPECT_EQ(actual, expected.at(productFlavour)) << productFlavour;
}

TEST(Flavour, ProductStringFindsItsOwnRowOnlyWhenSpelledExactly) {
  InstallMan manager;
  const EndpointRow row = manager.getEndpointRow(productFlavour);
  if (std::string(productFlavour) == "KESTRIX") {
    EXPECT_EQ(row.flavour, "");  // the flag ignores case, the lookup does not
    EXPECT_EQ(row.packageConfigUrl, "");
  } else {
    EXPECT_EQ(row.flavour, productFlavour);
    EXPECT_NE(row.packageConfigUrl, "");
  }
}

class EndpointTable : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::pair<HostRole, const char*> hosts[] = {
        {HostRole::U1, "u1"}, {HostRole::U3, "u3"}, {HostRole::U5, "u5"}, {HostRole::N1, "n1"},
        {HostRole::N2, "n2"}, {HostRole::N3, "n3"}, {HostRole::C, "c"},   {HostRole::MP, "mp"},
        {HostRole::MT, "mt"}, {HostRole::MM, "mm"}, {HostRole::ME, "me"}, {HostRole::MO, "mo"},
        {HostRole::MOT, "mot"}, {HostRole::G, "g"}};
    for (const auto& [role, name] : hosts) test::setHost(role, name);
  }
  void TearDown() override { test::setAllHosts("127.0.0.1:9"); }
  InstallMan manager;
};

TEST_F(EndpointTable, EveryRowHasItsHostsPathsAndEmptyColumns) {
  const std::string search = "/api/qvms/map/search_by_file_name?fileName=";
  const EndpointRow expected[] = {
      {"uat", "https://u1/pl/platform_latest_installer_uat.txt", "https://u1/pl/up1_patchlist_uat", "", ""},
      {"kestrixuat", "https://u1/pl/platform_latest_installer_kestrixuat.txt", "https://u1/pl/up1_patchlist_uat",
       "https://mt" + search, ""},
      {"map", "https://u1/pl/platform_latest_installer_match.txt", "https://u1/pl/up1_patchlist",
       "https://mm" + search, ""},
      {"prodna", "https://n1/pl/platform_latest_installer_upna_prod.txt", "https://n2/pl/up1_patchlist_prodna",
       "https://mo" + search, ""},
      {"prodnauat", "https://n1/pl/platform_latest_installer_upna_uat.txt", "https://n2/pl/up1_patchlist_uatna",
       "https://mot" + search, ""},
      {"prod", "https://u1/pl/platform_latest_installer_prod.txt", "https://u1/pl/up1_patchlist_prod",
       "https://mp" + search, "https://u1/pl/up1_patchlist_prod_bao"},
      {"edu", "https://u3/pl/platform_latest_installer_edu.txt", "https://u1/pl/up1_patchlist_edu",
       "https://me" + search, ""},
      {"qv", "https://c/4/pf/ver/latest_platform_installer.json", "https://u5/pl/up1_patchlist_produp5",
       "https://g/message/v1/installer/background?mapId=", ""},
      {"kestrix", "", "https://u5/pl/up1_patchlist_produp5", "", ""},
      {"kestrixna", "", "https://n3/pl/up1_patchlist_lumlum", "", ""},
  };
  const auto table = buildEndpointTable();
  ASSERT_EQ(table.size(), std::size(expected));
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(expected[i].flavour);
    EXPECT_EQ(table[i].flavour, expected[i].flavour);
    EXPECT_EQ(table[i].platformDescriptorUrl, expected[i].platformDescriptorUrl);
    EXPECT_EQ(table[i].packageConfigUrl, expected[i].packageConfigUrl);
    EXPECT_EQ(table[i].mapInfoUrl, expected[i].mapInfoUrl);
    EXPECT_EQ(table[i].altPackageConfigUrl, expected[i].altPackageConfigUrl);
  }
}

TEST_F(EndpointTable, UnknownEmptyAndMiscasedKeysGiveEmptyRowsAndChangeNothing) {
  for (const char* key : {"", "Kestrix", "KESTRIX", "kestrix ", "nosuch", "kestri"}) {
    const EndpointRow row = manager.getEndpointRow(key);
    EXPECT_EQ(row.flavour + row.platformDescriptorUrl + row.packageConfigUrl + row.mapInfoUrl +
                  row.altPackageConfigUrl,
              "")
        << '"' << key << '"';
  }
  // The table is built once and lookups only read it: every row is still found, in order.
  for (const auto& row : buildEndpointTable()) EXPECT_EQ(manager.getEndpointRow(row.flavour).flavour, row.flavour);
  const EndpointRow na = manager.getEndpointRow("kestrixna");
  EXPECT_EQ(na.packageConfigUrl, "https://n3/pl/up1_patchlist_lumlum");
}

TEST_F(EndpointTable, TableIsKeptFromTheFirstLookup) {
  EXPECT_EQ(manager.getEndpointRow("kestrix").packageConfigUrl, "https://u5/pl/up1_patchlist_produp5");
  test::setHost(HostRole::U5, "moved");
  EXPECT_EQ(manager.getEndpointRow("kestrix").packageConfigUrl, "https://u5/pl/up1_patchlist_produp5");
}

}  // namespace
}  // namespace kx
