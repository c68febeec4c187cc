#include "uiengine/page_document.h"

#include "uiengine/engine.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace kx::uiengine {
namespace {

TEST(PageDocument, RuntimeGoesAfterTheDoctypeOrFirst) {
  const std::string withDoctype = withRuntime("<!DOCTYPE html>\n<html><script>page()</script></html>");
  EXPECT_TRUE(withDoctype.starts_with("<!DOCTYPE html><script type=\"importmap\">"));
  EXPECT_LT(withDoctype.find("bootstrap.js"), withDoctype.find("page()"));
  const std::string bare = withRuntime("<html window-width=\"982px\"><body></body></html>");
  EXPECT_TRUE(bare.starts_with("<script type=\"importmap\">"));
  EXPECT_NE(bare.find("/__kx/config.js"), std::string::npos);
  EXPECT_TRUE(bare.ends_with("<html window-width=\"982px\"><body></body></html>"));
}

TEST(PageDocument, ReadsTheRootWindowAttributes) {
  const auto window = readWindowAttributes(
      "<!-- x --><HTML lang=zh window-frame=\"transparent\" WINDOW-WIDTH=\"982px\" window-height='568px' "
      "window-resizable=false window-title=\"Kestrix编辑器下载器\"><head></head></html>");
  EXPECT_EQ(window.width, 982);
  EXPECT_EQ(window.height, 568);
  EXPECT_EQ(window.title, "Kestrix编辑器下载器");
  const auto defaults = readWindowAttributes("<htmlx window-width=10px><p>no root</p>");
  EXPECT_EQ(defaults.width, 800);
  EXPECT_EQ(defaults.height, 600);
  EXPECT_EQ(readWindowAttributes("<html window-width=\"wide\">").width, 800);
}

TEST(PageDocument, DecodesRequestPaths) {
  EXPECT_EQ(decodedPath("/image/close/normal.png?v=1#x"), "image/close/normal.png");
  EXPECT_EQ(decodedPath("/%E9%A1%B5%20a.htm"), "页 a.htm");
  EXPECT_EQ(decodedPath("/"), "");
  EXPECT_FALSE(decodedPath("/a%2"));
  EXPECT_FALSE(decodedPath("/a%zz"));
  EXPECT_FALSE(decodedPath("/a%00b"));
}

TEST(PageDocument, ContentTypesByExtension) {
  EXPECT_EQ(contentTypeFor("index.htm"), "text/html; charset=utf-8");
  EXPECT_EQ(contentTypeFor("main.JS"), "text/javascript; charset=utf-8");
  EXPECT_EQ(contentTypeFor("image/icon.ico"), "image/x-icon");
  EXPECT_EQ(contentTypeFor("v1.0/readme"), "application/octet-stream");
}

TEST(PageDocument, ServedHeadersFollowTheRuntimeFeatures) {
  const auto policyOf = [](unsigned features) {
    for (const auto& [name, value] : servedPageHeaders("http://127.0.0.1:5000", features))
      if (name == "Content-Security-Policy") return value;
    return std::string();
  };
  const std::string closed = policyOf(0);
  EXPECT_NE(closed.find("frame-ancestors 'self'"), std::string::npos);
  EXPECT_NE(closed.find("connect-src 'self' ws://127.0.0.1:5000;"), std::string::npos);
  EXPECT_EQ(closed.find("unsafe-eval"), std::string::npos);
  const std::string open = policyOf(kFeatureEval | kFeatureSocketIo);
  EXPECT_NE(open.find("'unsafe-eval'"), std::string::npos);
  EXPECT_NE(open.find("ws://127.0.0.1:5000 *;"), std::string::npos);
}

TEST(PageDocument, IncludesDocumentsInPlace) {
  const std::map<std::string, std::string> files{
      {"main.htm", "<p id=main>main</p><include src='parts/row.htm'/>"},
      {"parts/row.htm", "<p>row</p><INCLUDE SRC=\"../leaf.htm\"></INCLUDE>"},
      {"leaf.htm", "<b>leaf</b>"},
      {"loop.htm", "[<include src=\"loop.htm\"></include>]"},
  };
  const IncludeLoader load = [&](const std::string& path) -> std::optional<std::string> {
    const auto it = files.find(path);
    return it == files.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
  const struct {
    std::string_view document, html, expected;
  } cases[] = {
      {"index.htm", "<body><include src=\"main.htm\"></include></body>",
       "<body><p id=main>main</p><p>row</p><b>leaf</b></body>"},
      {"index.htm", "a<include src=\"this://app/leaf.htm\">\n</include>b<include src=/leaf.htm>c", "a<b>leaf</b>b<b>leaf</b>c"},
      {"parts/x.htm", "<include src=\"./row.htm\"></include>", "<p>row</p><b>leaf</b>"},
      {"index.htm", "<include src=\"missing.htm\"></include>|<include src=\"../leaf.htm\"></include>|"
                    "<include src=\"https://example.invalid/leaf.htm\"></include>|<include></include>", "|||"},
      {"index.htm", "<!-- <include src=\"leaf.htm\"> --><script>s = '<include src=\"leaf.htm\">'</script>"
                    "<style>/* <include src=leaf.htm> */</style><includes>",
       "<!-- <include src=\"leaf.htm\"> --><script>s = '<include src=\"leaf.htm\">'</script>"
       "<style>/* <include src=leaf.htm> */</style><includes>"},
      {"index.htm", "<include src=\"loop.htm\"></include>", "[[[[[[[[]]]]]]]]"},
  };
  for (const auto& c : cases) EXPECT_EQ(withIncludes(c.html, c.document, load), c.expected) << c.html;
}

}  // namespace
}  // namespace kx::uiengine
