#include "uiengine/page_document.h"

#include "uiengine/engine.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kx::uiengine
