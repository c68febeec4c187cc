#pragma once
// Decoding the downloaded icon (PNG) and writing it as a Windows ICO file.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx {

struct Rgba {
  std::uint8_t r = 0, g = 0, b = 0, a = 255;
};

// An image as the icon writer needs it: 32 bits per pixel (RGBA) for images
// with an alpha channel, 24 (RGB) for true colour without one, otherwise 1, 2,
// 4 or 8 bits of palette indices (grey images get a grey palette). Rows are
// top-down, packed most significant bits first, `rowBytes` apart.
struct IconImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bitsPerPixel = 32;
  std::vector<Rgba> palette;
  std::optional<std::uint32_t> transparentIndex;
  std::size_t rowBytes = 0;
  std::vector<std::uint8_t> pixels;
};

std::optional<IconImage> decodePng(const std::string& bytes);
std::optional<std::string> encodePng(const IconImage& image);

// One-image ICO file. Up to 255 x 255 pixels: a BITMAPINFOHEADER (height
// doubled), the palette (the transparent index written black), the colour
// bitmap and the AND mask, both bottom-up with rows padded to 4 bytes. Larger
// images: width and height fields 0 and the image inside as PNG.
std::optional<std::string> encodeIco(const IconImage& image);

}  // namespace kx
