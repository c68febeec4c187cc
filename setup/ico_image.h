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

// Width, height and bits per pixel from a PNG's header chunk, read without
// decoding anything; nothing when the bytes do not start as a PNG does.
struct PngHeader {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bitsPerPixel = 0;
};
std::optional<PngHeader> readPngHeader(const std::string& bytes);

// Decodes an icon of up to 255 x 255 pixels. Larger images are refused from
// their header, before any pixel memory is taken: a header may claim a
// million pixels a side.
std::optional<IconImage> decodePng(const std::string& bytes);

// One-image ICO file with a BITMAPINFOHEADER (height doubled), the palette
// (the transparent index written black), the colour bitmap and the AND mask,
// both bottom-up with rows padded to 4 bytes. Nothing for images larger than
// 255 x 255, which the format stores as PNG.
std::optional<std::string> encodeIco(const IconImage& image);

// The downloaded PNG as an ICO file: up to 255 x 255 pixels decoded and
// written as a bitmap (encodeIco); larger images, never decoded, go into the
// ICO as they are, with width and height fields 0. Nothing when the bytes are
// not a PNG that can be used.
std::optional<std::string> pngToIco(const std::string& png);

}  // namespace kx
