// Archives beyond the 16- and 32-bit fields of the zip format. A package
// beyond 4 GiB: ZIP64 sizes and an entry whose local header starts past the
// 4 GiB mark, written sparse (its first entry is zeros), so only the
// extraction itself costs disk time. And more entries than the end record's
// 16-bit count can hold.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <random>

#include "common/little_endian.h"
#include "common/strings.h"
#include "setup/extraction.h"
#include "tests/setup/recording_task_callback.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kBigSize = (4ULL << 30) + 4097;  // past 4 GiB and not block aligned

// A zip record under construction.
struct Bytes {
  std::string data;
  LittleEndianWriter w{data};
  Bytes& u16(std::uint64_t v) { return w.u16(v), *this; }
  Bytes& u32(std::uint64_t v) { return w.u32(v), *this; }
  Bytes& u64(std::uint64_t v) { return w.u64(v), *this; }
  Bytes& text(const std::string& s) { return w.raw(s), *this; }
};

// CRC-32 of `length` zero bytes, by doubling with crc32_combine.
uLong zeroCrc(std::uint64_t length) {
  uLong result = crc32(0, Z_NULL, 0), power = crc32(0, reinterpret_cast<const Bytef*>("\0"), 1);
  std::uint64_t powerLength = 1;
  for (std::uint64_t rest = length; rest; rest >>= 1) {
    if (rest & 1) result = crc32_combine64(result, power, static_cast<z_off64_t>(powerLength));
    power = crc32_combine64(power, power, static_cast<z_off64_t>(powerLength));
    powerLength *= 2;
  }
  return result;
}

struct Entry {
  std::string name;
  std::uint64_t size;
  uLong crc;
  std::uint64_t offset = 0;
};

void writeAt(int fd, std::uint64_t offset, const std::string& data) {
  ASSERT_EQ(pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(data.size()));
}

TEST(LargeArchive, EntryBeyondFourGibExtractsByteExact) {
  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
  const auto archive = scratch / "package.zip";
  std::string tail(1 << 20, '\0');
  std::mt19937 random(7);
  for (auto& c : tail) c = static_cast<char>(random());

  Entry big{"lumlum/Content/data.pak", kBigSize, zeroCrc(kBigSize)};
  Entry small{"lumlum/Editor.exe", tail.size(), crc32(0, reinterpret_cast<const Bytef*>(tail.data()), static_cast<uInt>(tail.size()))};

  const int fd = open(archive.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  Bytes bigHeader;
  bigHeader.u32(0x04034b50).u16(45).u16(0).u16(0).u16(0).u16(0x5021).u32(big.crc).u32(0xFFFFFFFF).u32(0xFFFFFFFF);
  bigHeader.u16(static_cast<std::uint32_t>(big.name.size())).u16(20).text(big.name).u16(1).u16(16).u64(big.size).u64(big.size);
  writeAt(fd, 0, bigHeader.data);  // the zero data that follows stays a hole
  small.offset = bigHeader.data.size() + big.size;
  Bytes smallHeader;
  smallHeader.u32(0x04034b50).u16(45).u16(0).u16(0).u16(0).u16(0x5021).u32(small.crc).u32(small.size).u32(small.size);
  smallHeader.u16(static_cast<std::uint32_t>(small.name.size())).u16(0).text(small.name);
  writeAt(fd, small.offset, smallHeader.data + tail);

  const std::uint64_t directoryOffset = small.offset + smallHeader.data.size() + tail.size();
  Bytes directory;
  directory.u32(0x02014b50).u16(0x031E).u16(45).u16(0).u16(0).u16(0).u16(0x5021).u32(big.crc);
  directory.u32(0xFFFFFFFF).u32(0xFFFFFFFF).u16(static_cast<std::uint32_t>(big.name.size())).u16(20).u16(0).u16(0).u16(0);
  directory.u32(0100644ULL << 16).u32(0).text(big.name).u16(1).u16(16).u64(big.size).u64(big.size);
  directory.u32(0x02014b50).u16(0x031E).u16(45).u16(0).u16(0).u16(0).u16(0x5021).u32(small.crc);
  directory.u32(small.size).u32(small.size).u16(static_cast<std::uint32_t>(small.name.size())).u16(12).u16(0).u16(0).u16(0);
  directory.u32(0100755ULL << 16).u32(0xFFFFFFFF).text(small.name).u16(1).u16(8).u64(small.offset);
  const std::uint64_t directorySize = directory.data.size();
  const std::uint64_t zip64End = directoryOffset + directorySize;
  Bytes end;
  end.u32(0x06064b50).u64(44).u16(45).u16(45).u32(0).u32(0).u64(2).u64(2).u64(directorySize).u64(directoryOffset);
  end.u32(0x07064b50).u32(0).u64(zip64End).u32(1);
  end.u32(0x06054b50).u16(0).u16(0).u16(2).u16(2).u32(directorySize).u32(0xFFFFFFFF).u16(0);
  writeAt(fd, directoryOffset, directory.data + end.data);
  close(fd);
  ASSERT_GT(fs::file_size(archive), 4ULL << 30);

  test::RecordingTaskCallback progress;
  const auto dest = scratch / "games/2.0";
  const auto extracted = unzipPackage(fromUtf8(archive.string()), fromUtf8(dest.string()), "lumlum", "game",
                                     fs::file_size(archive), &progress);
  ASSERT_TRUE(extracted) << extracted.reason;

  EXPECT_EQ(fs::file_size(dest / "game/Content/data.pak"), big.size);
  EXPECT_EQ(test::readWholeFile(dest / "game/Editor.exe"), tail);
  const std::uint64_t total = fs::file_size(archive);
  EXPECT_EQ(progress.progress(), (std::vector<std::int32_t>{*extractionPercent(small.offset, total),
                                                             *extractionPercent(directoryOffset, total)}));
  // Spot checks of the zeros, including around the 4 GiB mark (libarchive
  // has verified the CRC of all of it).
  const int in = open((dest / "game/Content/data.pak").c_str(), O_RDONLY);
  for (std::uint64_t at : {std::uint64_t{0}, std::uint64_t{(4ULL << 30) - 2048}, std::uint64_t{big.size - 4096}}) {
    char block[4096];
    ASSERT_EQ(pread(in, block, sizeof block, static_cast<off_t>(at)), static_cast<ssize_t>(sizeof block));
    EXPECT_EQ(std::string(block, sizeof block), std::string(sizeof block, '\0')) << at;
  }
  close(in);
}

TEST(LargeArchive, EntryCountBeyondSixteenBitsExtractsEveryEntry) {
  // 65,538 entries from a writer without ZIP64: the end record's count has
  // wrapped to 2, and no ZIP64 record says otherwise.
  constexpr int kEntries = 65538;
  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
  const auto archive = scratch / "package.zip";
  const auto made = test::runPython(
      "import struct, sys, zipfile\n"
      "path, count = sys.argv[1], int(sys.argv[2])\n"
      "with zipfile.ZipFile(path, 'w') as z:\n"
      "    for i in range(count):\n"
      "        z.writestr('lumlum/%02d/%05d' % (i // 1000, i), str(i))\n"
      "data = open(path, 'rb').read()\n"
      "zip64 = data.rindex(b'PK\\x06\\x06')\n"
      "size, offset = struct.unpack('<QQ', data[zip64 + 40:zip64 + 56])\n"
      "end = b'PK\\x05\\x06' + struct.pack('<HHHHIIH', 0, 0, count & 0xFFFF, count & 0xFFFF, size, offset, 0)\n"
      "open(path, 'wb').write(data[:zip64] + end)\n"
      "print(len(zipfile.ZipFile(path).namelist()))\n",
      test::shellQuote(archive.string()) + " " + std::to_string(kEntries), 120);
  ASSERT_EQ(made.exitCode, 0) << made.output;
  ASSERT_EQ(made.output, std::to_string(kEntries) + "\n") << "Python's zipfile lists them all";

  const auto dest = scratch / "games/2.0";
  const auto extracted = unzipPackage(fromUtf8(archive.string()), fromUtf8(dest.string()), "lumlum", "game",
                                      fs::file_size(archive), nullptr);
  ASSERT_TRUE(extracted) << extracted.reason;
  int files = 0;
  for (const auto& item : fs::recursive_directory_iterator(dest / "game")) files += item.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, kEntries);
  EXPECT_EQ(test::readWholeFile(dest / "game/00/00000"), "0");
  EXPECT_EQ(test::readWholeFile(dest / "game/65/65537"), "65537");
}

}  // namespace
}  // namespace kx
