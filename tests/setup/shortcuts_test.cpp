#include "setup/shortcuts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/strings.h"
#include "flavour/flavour.h"
#include "setup/ico_image.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"
#include "tests/support/test_build_config.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

const std::string kSource = KX_SOURCE_DIR;

// Writes a PNG with Pillow: `make` is Python building `im`.
void makePng(const fs::path& path, const std::string& make) {
  const auto r = test::runPython("from PIL import Image\n" + make + "\nim.save(" + test::shellQuote(path.string()) + ")\n");
  ASSERT_EQ(r.exitCode, 0) << r.output;
}

// Opens an ICO with Pillow and compares it, pixel by pixel as RGBA, with the
// PNG it was made from; prints "W H MISMATCHES".
std::string pillowCompare(const fs::path& ico, const fs::path& png) {
  return test::runPython(
             "import sys\nfrom PIL import Image\n"
             "a = Image.open(sys.argv[1]); a.load(); a = a.convert('RGBA')\n"
             "b = Image.open(sys.argv[2]).convert('RGBA')\n"
             "bad = sum(1 for p, q in zip(a.getdata(), b.getdata()) if p != q and not (p[3] == 0 and q[3] == 0))\n"
             "print(a.size[0], a.size[1], bad)\n",
             test::shellQuote(ico.string()) + " " + test::shellQuote(png.string()))
      .output;
}

std::uint32_t le32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

class IcoWriter : public ::testing::Test {
 protected:
  std::string convert(const fs::path& png, const fs::path& ico) {
    const auto image = decodePng(test::readWholeFile(png));
    EXPECT_TRUE(image.has_value());
    if (!image) return {};
    const auto data = encodeIco(*image);
    EXPECT_TRUE(data.has_value());
    test::writeWholeFile(ico, data.value_or(""));
    return data.value_or("");
  }
  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
};

TEST_F(IcoWriter, SmallRgbaImageBecomesOne32BitBitmapEntry) {
  makePng(scratch / "a.png",
          "im = Image.new('RGBA', (64, 64))\n"
          "im.putdata([(x * 4, y * 4, (x ^ y) & 255, 0 if x < 8 else (255 if y > 32 else 128)) "
          "for y in range(64) for x in range(64)])");
  const std::string ico = convert(scratch / "a.png", scratch / "a.ico");
  ASSERT_EQ(ico.size(), 22u + 16936u);
  EXPECT_EQ(ico.substr(0, 6), std::string("\0\0\1\0\1\0", 6));
  EXPECT_EQ(static_cast<unsigned char>(ico[6]), 64);
  EXPECT_EQ(static_cast<unsigned char>(ico[7]), 64);
  EXPECT_EQ(le32(ico, 10) & 0xFFFF0000u, 32u << 16) << "planes 0, 32 bits per pixel";
  EXPECT_EQ(le32(ico, 14), 16936u);
  EXPECT_EQ(le32(ico, 18), 22u);
  EXPECT_EQ(le32(ico, 22 + 8), 128u) << "height doubled";
  EXPECT_EQ(le32(ico, 22 + 20), 16384u) << "colour bitmap size";
  // The first mask row (bottom row, y = 63) marks x < 8 transparent.
  EXPECT_EQ(static_cast<unsigned char>(ico[22 + 40 + 16384]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(ico[22 + 40 + 16384 + 1]), 0x00);
  EXPECT_EQ(pillowCompare(scratch / "a.ico", scratch / "a.png"), "64 64 0\n");
}

TEST_F(IcoWriter, LargeImageIsStoredAsPng) {
  makePng(scratch / "b.png",
          "im = Image.new('RGBA', (300, 300))\n"
          "im.putdata([(x & 255, y & 255, 7, 255 if (x + y) % 3 else 0) for y in range(300) for x in range(300)])");
  const std::string ico = convert(scratch / "b.png", scratch / "b.ico");
  ASSERT_GT(ico.size(), 30u);
  EXPECT_EQ(ico[6], 0);
  EXPECT_EQ(ico[7], 0);
  EXPECT_EQ(le32(ico, 14), ico.size() - 22);
  EXPECT_EQ(ico.substr(22, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(pillowCompare(scratch / "b.ico", scratch / "b.png"), "300 300 0\n");
}

TEST_F(IcoWriter, PaletteImageKeepsItsDepthAndBlacksOutTheTransparentIndex) {
  makePng(scratch / "c.png",
          "im = Image.new('P', (20, 10))\n"
          "im.putpalette([255, 0, 0, 0, 255, 0, 10, 20, 30] + [0] * (256 * 3 - 9))\n"
          "im.putdata([(x + y) % 3 for y in range(10) for x in range(20)])\n"
          "im.info['transparency'] = 2");
  const auto image = decodePng(test::readWholeFile(scratch / "c.png"));
  ASSERT_TRUE(image);
  EXPECT_LE(image->bitsPerPixel, 8);
  EXPECT_EQ(image->transparentIndex, 2u);
  const std::string ico = convert(scratch / "c.png", scratch / "c.ico");
  const int bits = image->bitsPerPixel;
  EXPECT_EQ(static_cast<unsigned char>(ico[8]), bits == 8 ? 0 : 1 << bits) << "colour count";
  EXPECT_EQ(le32(ico, 10) >> 16, static_cast<std::uint32_t>(bits));
  EXPECT_EQ(ico.substr(22 + 40 + 2 * 4, 4), std::string(4, '\0')) << "transparent entry written black";
  EXPECT_EQ(ico.substr(22 + 40 + 1 * 4, 4), std::string("\0\xff\0\0", 4)) << "green as B G R 0";
  EXPECT_EQ(pillowCompare(scratch / "c.ico", scratch / "c.png"), "20 10 0\n");
}

TEST_F(IcoWriter, NonPngDataIsRejected) {
  EXPECT_FALSE(decodePng("<html><body>404</body></html>"));
  EXPECT_FALSE(decodePng(std::string("\x89PNG\r\n\x1a\n", 8) + "broken"));
}

class MapShortcut : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KX_MACHINE_ROOT", (scratch / "machine").c_str(), 1);
    makePng(scratch / "logo.png", "im = Image.new('RGBA', (48, 48), (10, 20, 30, 255))");
    // TLS stays verified: the server's CA is the build's extra CA.
    test::setExtraCaFile(server.caFile());
    server.routes({{"/logo.png", {{"file", (scratch / "logo.png").string()}}},
                   {"/error", {{"status", 404}}},
                   {"/stall", {{"body", std::string(5000, 'x')}, {"stall_after", 4}, {"stall_seconds", 30}}}});
  }
  void TearDown() override { test::setExtraCaFile(""); }
  std::wstring urlOf(const std::string& path) const { return fromUtf8(server.url(path)); }
  std::vector<std::string> iconQueries() const {
    std::vector<std::string> queries;
    for (const auto& request : server.requestsFor("/logo.png")) queries.push_back(request["query"]);
    return queries;
  }
  fs::path desktop() const { return scratch / "machine" / "Desktop"; }
  std::vector<std::string> desktopNames() const {
    std::vector<std::string> names;
    if (fs::exists(desktop()))
      for (const auto& e : fs::directory_iterator(desktop())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::wstring folder() const { return fromUtf8((scratch / "install").string()) + L"/"; }

  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
  test::TestServer server;
  int launchLinkCalls = 0;
  std::function<std::wstring()> launchLink = [this] {
    ++launchLinkCalls;
    return L"zzarenahq://launch?d=abc";
  };
};

TEST_F(MapShortcut, WritesTheLinkWithItsIconAndLaunchLink) {
  std::wstring iconUrl = urlOf("/logo.png?v=1");
  CreateMapShortcut(folder(), L"4711", L"Dragon Map", iconUrl, launchLink);

  const auto link = desktop() / "Dragon Map.lnk";
  ASSERT_TRUE(fs::exists(link));
  const std::string target = (scratch / "install" / (isQv ? "Platform.exe" : "Launcher.exe")).string();
  EXPECT_EQ(test::lnkInfoField(link, "Local path"), target);
  EXPECT_EQ(test::lnkInfoField(link, "Command line arguments"), "zzarenahq://launch?d=abc");
  const auto icon = scratch / "install/temp/ico/4711.ico";
  EXPECT_EQ(test::lnkInfoField(link, "Icon location"), icon.string());
  EXPECT_EQ(test::lnkInfoField(link, "Description"), std::nullopt);
  EXPECT_EQ(pillowCompare(icon, scratch / "logo.png"), "48 48 0\n");
  EXPECT_EQ(iconQueries(), std::vector<std::string>{"v=1&fop=imageView/0/w/99999/f/png"});

  // The query is appended to the stored URL, so a second call appends it again.
  CreateMapShortcut(folder(), L"4711", L"Dragon Map", iconUrl, launchLink);
  EXPECT_EQ(iconUrl, urlOf("/logo.png?v=1&fop=imageView/0/w/99999/f/png&fop=imageView/0/w/99999/f/png"));
  EXPECT_EQ(iconQueries().back(), "v=1&fop=imageView/0/w/99999/f/png&fop=imageView/0/w/99999/f/png");
}

TEST_F(MapShortcut, UntrustedCertificateGivesALinkWithoutIcon) {
  test::setExtraCaFile("");
  std::wstring iconUrl = urlOf("/logo.png");
  CreateMapShortcut(folder(), L"4711", L"Dragon Map", iconUrl, launchLink);
  EXPECT_TRUE(fs::exists(desktop() / "Dragon Map.lnk"));
  EXPECT_EQ(test::lnkInfoField(desktop() / "Dragon Map.lnk", "Icon location"), std::nullopt);
}

TEST_F(MapShortcut, OnlyWebIconsAreFetched) {
  // The URL comes from the map service: it must not read local files.
  std::wstring iconUrl = fromUtf8("file://" + (scratch / "logo.png").string());
  CreateMapShortcut(folder(), L"4711", L"Dragon Map", iconUrl, launchLink);
  EXPECT_EQ(test::lnkInfoField(desktop() / "Dragon Map.lnk", "Icon location"), std::nullopt);
  EXPECT_FALSE(fs::exists(scratch / "install/temp/ico/4711.ico"));
}

TEST_F(MapShortcut, IllegalNameFallsBackToTheCleanedNameThenTheId) {
  std::wstring noIcon;
  CreateMapShortcut(folder(), L"4711", L"A/B:C*?\"<>|\\", noIcon, launchLink);
  EXPECT_EQ(desktopNames(), std::vector<std::string>{"ABC.lnk"});
  EXPECT_EQ(launchLinkCalls, 1) << "the refused first name writes nothing";

  fs::remove_all(desktop());
  CreateMapShortcut(folder(), L"4711", L"/:*", noIcon, launchLink);
  EXPECT_EQ(desktopNames(), std::vector<std::string>{"4711.lnk"});

  fs::remove_all(desktop());
  CreateMapShortcut(folder(), L"4711", L"../../escape", noIcon, launchLink);
  EXPECT_EQ(desktopNames(), std::vector<std::string>{"....escape.lnk"});
}

TEST_F(MapShortcut, EmptyMapIdCreatesNothing) {
  std::wstring iconUrl = urlOf("/logo.png");
  CreateMapShortcut(folder(), L"", L"Dragon Map", iconUrl, launchLink);
  EXPECT_EQ(desktopNames(), std::vector<std::string>{});
  EXPECT_EQ(iconUrl, urlOf("/logo.png"));
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(MapShortcut, ErrorPageOrStalledServerGivesALinkWithoutIcon) {
  test::setLowSpeedTimeSeconds(1);
  for (const char* path : {"/error", "/stall", "/missing.png"}) {
    std::wstring iconUrl = urlOf(path);
    const auto started = std::chrono::steady_clock::now();
    CreateMapShortcut(folder(), L"9", L"Map", iconUrl, launchLink);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << path;
    EXPECT_EQ(test::lnkInfoField(desktop() / "Map.lnk", "Icon location"), std::nullopt) << path;
    EXPECT_FALSE(fs::exists(scratch / "install/temp/ico/9.ico")) << path;
  }
}

TEST(Shortcut, EmptyTargetOrLinkPathWritesNothing) {
  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
  EXPECT_FALSE(CreateShortcut(L"", fromUtf8((scratch / "a.lnk").string()), L"", L"", L""));
  EXPECT_FALSE(CreateShortcut(L"/bin/true", L"", L"", L"", L""));
  EXPECT_TRUE(fs::is_empty(scratch));
}

TEST(EditorShortcut, IsNamedAfterTheVersion) {
  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
  setenv("KX_MACHINE_ROOT", scratch.c_str(), 1);
  const std::wstring desktop = fromUtf8((scratch / "Desktop").string());
  if (flavourNameIs(productFlavour, "kestrixna")) {
    EXPECT_EQ(editorShortcutPath("2.0"), desktop + L"/Lumlum Editor.lnk");
  } else {
    EXPECT_EQ(editorShortcutPath("2.0"), desktop + L"/Kestrix编辑器 2.0.lnk");
    EXPECT_EQ(editorShortcutPath(""), desktop + L"/Kestrix编辑器 1.0.lnk");
  }
}

}  // namespace
}  // namespace kx
