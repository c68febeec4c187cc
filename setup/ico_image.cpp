#include "setup/ico_image.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>

#include "common/little_endian.h"

namespace kx {

namespace {

constexpr std::uint32_t kLargestBitmapIcon = 255;

struct MemoryReader {
  const std::string& data;
  std::size_t at = 0;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* source = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (source->data.size() - source->at < length) png_error(png, "truncated");
  std::memcpy(out, source->data.data() + source->at, length);
  source->at += length;
}

std::uint32_t pixelIndex(const IconImage& image, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* row = image.pixels.data() + y * image.rowBytes;
  const int bits = image.bitsPerPixel;
  const std::size_t bit = static_cast<std::size_t>(x) * bits;
  const int shift = 8 - bits - static_cast<int>(bit % 8);
  return (row[bit / 8] >> shift) & ((1u << bits) - 1);
}

bool isTransparent(const IconImage& image, std::uint32_t x, std::uint32_t y) {
  if (image.bitsPerPixel == 32) return image.pixels[y * image.rowBytes + x * 4 + 3] == 0;
  if (image.bitsPerPixel == 24) return false;
  const std::uint32_t index = pixelIndex(image, x, y);
  return (index < image.palette.size() && image.palette[index].a == 0) || image.transparentIndex == index;
}

std::size_t paddedRow(std::size_t bits) { return (bits + 31) / 32 * 4; }

std::size_t paletteEntries(const IconImage& image) { return image.bitsPerPixel <= 8 ? 1u << image.bitsPerPixel : 0; }

std::string bitmapData(const IconImage& image) {
  const std::size_t colourRow = paddedRow(static_cast<std::size_t>(image.width) * image.bitsPerPixel);
  const std::size_t maskRow = paddedRow(image.width);
  std::string data;
  LittleEndianWriter w(data);
  w.u32(40);
  w.u32(image.width);
  w.u32(image.height * 2);
  w.u16(1);
  w.u16(static_cast<std::uint32_t>(image.bitsPerPixel));
  w.u32(0);
  w.u32(static_cast<std::uint32_t>(colourRow * image.height));
  for (int i = 0; i < 4; ++i) w.u32(0);

  for (std::size_t i = 0; i < paletteEntries(image); ++i) {
    const Rgba c = i < image.palette.size() && image.transparentIndex != i ? image.palette[i] : Rgba{0, 0, 0, 0};
    w.u8(c.b), w.u8(c.g), w.u8(c.r), w.u8(0);
  }
  for (std::uint32_t y = image.height; y-- > 0;) {
    std::string row(colourRow, '\0');
    const std::uint8_t* source = image.pixels.data() + y * image.rowBytes;
    if (image.bitsPerPixel >= 24) {
      const std::size_t step = image.bitsPerPixel / 8;
      for (std::uint32_t x = 0; x < image.width; ++x) {
        const std::uint8_t* p = source + x * step;
        row[x * step] = static_cast<char>(p[2]);
        row[x * step + 1] = static_cast<char>(p[1]);
        row[x * step + 2] = static_cast<char>(p[0]);
        if (step == 4) row[x * step + 3] = static_cast<char>(p[3]);
      }
    } else {
      std::memcpy(row.data(), source, image.rowBytes);
    }
    data += row;
  }
  for (std::uint32_t y = image.height; y-- > 0;) {
    std::string row(maskRow, '\0');
    for (std::uint32_t x = 0; x < image.width; ++x)
      if (isTransparent(image, x, y)) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
    data += row;
  }
  return data;
}

bool fitsBitmap(std::uint32_t width, std::uint32_t height) {
  return width <= kLargestBitmapIcon && height <= kLargestBitmapIcon;
}

// Header and the one directory entry (width and height 0 above 255 pixels), then the image data.
std::string icoFile(std::uint32_t width, std::uint32_t height, std::size_t colours, int bitsPerPixel,
                    const std::string& data) {
  std::string ico;
  LittleEndianWriter w(ico);
  w.u16(0);
  w.u16(1);
  w.u16(1);
  w.u8(width);
  w.u8(height);
  w.u8(colours == 256 ? 0 : static_cast<std::uint32_t>(colours));
  w.u8(0);
  w.u16(0);
  w.u16(static_cast<std::uint32_t>(bitsPerPixel));
  w.u32(static_cast<std::uint32_t>(data.size()));
  w.u32(22);
  return ico + data;
}

int channels(int colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_RGB:
      return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return 4;
    default:  // grey, palette
      return 1;
  }
}

std::uint32_t bigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

}  // namespace

std::optional<PngHeader> readPngHeader(const std::string& bytes) {
  // Signature, then the header chunk: length 13, "IHDR", width, height, bit depth, colour type, ..., CRC.
  constexpr std::size_t kHeaderEnd = 8 + 8 + 13 + 4;
  if (bytes.size() < kHeaderEnd || png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8) != 0)
    return std::nullopt;
  if (bigEndian32(bytes, 8) != 13 || bytes.compare(12, 4, "IHDR") != 0) return std::nullopt;
  const auto* chunk = reinterpret_cast<const Bytef*>(bytes.data() + 12);
  if (crc32(0, chunk, 4 + 13) != bigEndian32(bytes, 8 + 8 + 13)) return std::nullopt;
  PngHeader header;
  header.width = bigEndian32(bytes, 16);
  header.height = bigEndian32(bytes, 20);
  const int depth = static_cast<unsigned char>(bytes[24]);
  header.bitsPerPixel = depth * channels(static_cast<unsigned char>(bytes[25]));
  if (header.width == 0 || header.height == 0 || header.width > PNG_UINT_31_MAX || header.height > PNG_UINT_31_MAX)
    return std::nullopt;
  return header;
}

std::optional<IconImage> decodePng(const std::string& bytes) {
  const auto header = readPngHeader(bytes);
  if (!header || !fitsBitmap(header->width, header->height)) return std::nullopt;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return std::nullopt;
  png_infop info = png_create_info_struct(png);
  IconImage image;
  MemoryReader reader{bytes};
  std::vector<png_bytep> rows;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return std::nullopt;
  }
  png_set_read_fn(png, &reader, readFromMemory);
  png_read_info(png, info);
  const int colourType = png_get_color_type(png, info);
  const int depth = png_get_bit_depth(png, info);
  const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  image.width = png_get_image_width(png, info);
  image.height = png_get_image_height(png, info);

  png_set_strip_16(png);
  png_set_interlace_handling(png);
  if (colourType == PNG_COLOR_TYPE_PALETTE || (colourType == PNG_COLOR_TYPE_GRAY && depth <= 8)) {
    // Palette images keep their depth; grey ones become palette images.
    image.bitsPerPixel = depth;
    png_bytep alphas = nullptr;
    int alphaCount = 0;
    png_color_16p trnsGrey = nullptr;
    if (hasTrns) png_get_tRNS(png, info, &alphas, &alphaCount, &trnsGrey);
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
      png_colorp colours = nullptr;
      int count = 0;
      png_get_PLTE(png, info, &colours, &count);
      for (int i = 0; i < count; ++i)
        image.palette.push_back({colours[i].red, colours[i].green, colours[i].blue,
                                 static_cast<std::uint8_t>(i < alphaCount ? alphas[i] : 255)});
      for (int i = 0; i < alphaCount && !image.transparentIndex; ++i)
        if (alphas[i] == 0) image.transparentIndex = static_cast<std::uint32_t>(i);
    } else {
      const std::uint32_t levels = 1u << depth;
      for (std::uint32_t i = 0; i < levels; ++i) {
        const auto v = static_cast<std::uint8_t>(i * 255 / (levels - 1));
        image.palette.push_back({v, v, v, 255});
      }
      if (trnsGrey) image.transparentIndex = trnsGrey->gray & (levels - 1);
    }
  } else if (colourType == PNG_COLOR_TYPE_RGB && !hasTrns) {
    image.bitsPerPixel = 24;
  } else {
    image.bitsPerPixel = 32;
    png_set_expand(png);
    png_set_gray_to_rgb(png);
    png_set_tRNS_to_alpha(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  }
  png_read_update_info(png, info);
  image.rowBytes = png_get_rowbytes(png, info);
  image.pixels.resize(image.rowBytes * image.height);
  for (std::uint32_t y = 0; y < image.height; ++y) rows.push_back(image.pixels.data() + y * image.rowBytes);
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  if (image.width == 0 || image.height == 0) return std::nullopt;
  return image;
}

std::optional<std::string> encodeIco(const IconImage& image) {
  if (!fitsBitmap(image.width, image.height)) return std::nullopt;
  return icoFile(image.width, image.height, paletteEntries(image), image.bitsPerPixel, bitmapData(image));
}

std::optional<std::string> pngToIco(const std::string& png) {
  const auto header = readPngHeader(png);
  if (!header) return std::nullopt;
  if (!fitsBitmap(header->width, header->height)) return icoFile(0, 0, 0, header->bitsPerPixel, png);
  const auto image = decodePng(png);
  return image ? encodeIco(*image) : std::nullopt;
}

}  // namespace kx
