// The telemetry's files: the digest-guarded state record and payload list,
// the folders an app key names, and the log with its trimming and limits.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "telemetry/digest.h"
#include "telemetry/tally_log.h"
#include "telemetry/tally_store.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx::test {
namespace {

namespace fs = std::filesystem;
using namespace telemetry;

TEST(TallyStoreTest, StateRecordLayoutAndUpdates) {
  TempDir data;
  TallyStore store(data.path(), L"MA-1");
  EXPECT_FALSE(store.readState());
  store.updateState([](StateRecord& r) { r.uploadCounter = 7; });
  store.updateState([](StateRecord& r) { r.deviceId = std::string(40, 'C'); });
  store.updateState([](StateRecord& r) { r.sessionCounter = 3, r.lastCloseTime = 0x01020304; });

  const std::string bytes = readWholeFile(fs::path(data.path()) / "NimbrelTally" / "MA-1" / "daEvc.dat");
  ASSERT_EQ(bytes.size(), 76u);
  const Sha1Digest digest = sha1(std::string_view(bytes).substr(20));
  EXPECT_EQ(bytes.substr(0, 20), std::string(reinterpret_cast<const char*>(digest.data()), 20));
  EXPECT_EQ(bytes.substr(20, 4), std::string("\x07\0\0\0", 4));
  EXPECT_EQ(bytes.substr(28, 40), std::string(40, 'C'));
  EXPECT_EQ(bytes.substr(68, 8), std::string("\x03\0\0\0\x04\x03\x02\x01", 8));
  const auto state = store.readState();
  ASSERT_TRUE(state);
  EXPECT_EQ(state->uploadCounter, 7);
  EXPECT_EQ(state->deviceId, std::string(40, 'C'));
}

TEST(TallyStoreTest, AnEditedOrShortStateRecordIsDeletedAndUpdatesStartFromZero) {
  for (const bool truncate : {false, true}) {
    TempDir data;
    TallyStore store(data.path(), L"MA-1");
    store.updateState([](StateRecord& r) { r.uploadCounter = 9, r.sessionCounter = 4; });
    const fs::path file = fs::path(data.path()) / "NimbrelTally" / "MA-1" / "daEvc.dat";
    std::string bytes = readWholeFile(file);
    if (truncate) {
      bytes.resize(75);
    } else {
      bytes[30] ^= 1;
    }
    writeWholeFile(file, bytes);
    EXPECT_FALSE(store.readState()) << truncate;
    EXPECT_FALSE(fs::exists(file)) << truncate;

    writeWholeFile(file, bytes);
    store.updateState([](StateRecord& r) { r.firstRunTime = 5; });
    const auto state = store.readState();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->uploadCounter, 0) << "nothing of the bad record survives";
    EXPECT_EQ(state->sessionCounter, 0u);
    EXPECT_EQ(state->firstRunTime, 5u);
  }
}

TEST(TallyStoreTest, PayloadsRoundTripOnceAndAreNotWrittenWhenThereAreNone) {
  TempDir data;
  TallyStore store(data.path(), L"MA-1");
  const fs::path file = fs::path(data.path()) / "NimbrelTally" / "MA-1" / "daMetr.dat";
  store.savePayloads({});
  EXPECT_FALSE(fs::exists(file));

  const std::vector<std::string> payloads{std::string(48, 'a'), std::string("\0\x01\x02", 3), std::string(16, 'z')};
  store.savePayloads(payloads);
  const std::string bytes = readWholeFile(file);
  EXPECT_EQ(bytes.size(), 20u + 4 + 3 * 4 + 48 + 3 + 16);
  EXPECT_EQ(bytes.substr(20, 8), std::string("\x03\0\0\0\x30\0\0\0", 8));
  EXPECT_EQ(store.takePayloads(), payloads);
  EXPECT_FALSE(fs::exists(file)) << "read once, then deleted";
  EXPECT_TRUE(store.takePayloads().empty());
}

TEST(TallyStoreTest, PayloadFileChecks) {
  const std::string good = encodePayloadFile({"abc", "defg"});
  std::string edited = good;
  edited.back() ^= 1;
  std::string tooMany = good.substr(20);
  tooMany[2] = 1;  // 65539 payloads
  const Sha1Digest digest = sha1(tooMany);
  tooMany = std::string(reinterpret_cast<const char*>(digest.data()), 20) + tooMany;
  std::string cut = good.substr(20, good.size() - 20 - 2);  // the last payload no longer fits
  const Sha1Digest cutDigest = sha1(cut);
  cut = std::string(reinterpret_cast<const char*>(cutDigest.data()), 20) + cut;

  EXPECT_EQ(decodePayloadFile(good), (std::vector<std::string>{"abc", "defg"}));
  EXPECT_FALSE(decodePayloadFile(edited));
  EXPECT_FALSE(decodePayloadFile(tooMany));
  EXPECT_FALSE(decodePayloadFile(good.substr(0, 20)));
  EXPECT_EQ(decodePayloadFile(cut), (std::vector<std::string>{"abc"}));
}

TEST(TallyStoreTest, AtMostTheNewest65535PayloadsAreStored) {
  std::vector<std::string> payloads;
  for (int i = 0; i < 65536; ++i) payloads.push_back(std::string(1, static_cast<char>(i % 251)));
  const auto stored = decodePayloadFile(encodePayloadFile(payloads));
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->size(), 65535u);
  EXPECT_EQ(stored->front(), payloads[1]);
  EXPECT_EQ(stored->back(), payloads.back());
}

TEST(TallyStoreTest, ALongAppKeyNamesTheFoldersByItsFirstHundredCharactersAndTheLogByAll) {
  TempDir data;
  std::wstring key;
  for (int i = 0; i < 120; ++i) key += static_cast<wchar_t>(L'a' + i % 26);
  const std::string narrow(key.begin(), key.end());
  TallyStore store(data.path(), key);
  store.updateState([](StateRecord& r) { r.uploadCounter = 1; });
  EXPECT_TRUE(fs::exists(fs::path(data.path()) / "NimbrelTally" / narrow.substr(0, 100) / "daEvc.dat"));

  TallyLog log;
  log.open(data.path(), key);
  log.writeLine(L"hello");
  EXPECT_TRUE(fs::exists(fs::path(data.path()) / "NimbrelTallyLog" / narrow.substr(0, 100) /
                         ("tally_" + narrow + ".log")));
  // Ninety-nine characters are a name of their own.
  EXPECT_EQ(appKeyFolderName(key.substr(0, 99)), key.substr(0, 99));
  EXPECT_EQ(appKeyFolderName(key.substr(0, 100)), key.substr(0, 100));
}

// --- the log ---

class TallyLogTest : public ::testing::Test {
 protected:
  fs::path file() const { return logFilePath(data.path(), L"MA-1"); }
  TempDir data;
};

TEST_F(TallyLogTest, ABigLogKeepsTheRunsWhoseBannersStartInItsSecondHalf) {
  // Three runs in 200000 bytes: the first starts at 0, the second before the
  // middle, the third after it.
  const std::string banner = std::string(kLogOpenBanner) + "\n";
  const std::string filler = "01-01 00:00:00.000:[1-1]\tline\n";
  auto run = [&](const std::string& name, std::size_t size) {
    std::string text = banner + name + "\n";
    while (text.size() + filler.size() <= size) text += filler;
    return text + std::string(size - text.size(), '.');
  };
  const std::string first = run("first", 60000), second = run("second", 60000), third = run("third", 80000);
  fs::create_directories(file().parent_path());
  writeWholeFile(file(), first + second + third);
  ASSERT_EQ(fs::file_size(file()), 200000u);

  TallyLog log;
  log.open(data.path(), L"MA-1");
  EXPECT_EQ(readWholeFile(file()), third + banner);
}

TEST_F(TallyLogTest, ASmallLogIsKeptWhole) {
  fs::create_directories(file().parent_path());
  const std::string old = std::string(kLogOpenBanner) + "\nold run\n" + std::string(0x1FFFF - 100, '.');
  writeWholeFile(file(), old);
  TallyLog log;
  log.open(data.path(), L"MA-1");
  EXPECT_EQ(readWholeFile(file()), old + kLogOpenBanner + "\n");
}

TEST_F(TallyLogTest, OneRunLargerThanHalfTheFileStillShrinksTheFile) {
  fs::create_directories(file().parent_path());
  std::string old = std::string(kLogOpenBanner) + "\n";
  while (old.size() < 300000) old += "a line of an endless run\n";
  writeWholeFile(file(), old);
  TallyLog log;
  log.open(data.path(), L"MA-1");
  const std::string kept = readWholeFile(file());
  EXPECT_LT(kept.size(), old.size() / 2 + 200);
  EXPECT_TRUE(kept.starts_with("a line of an endless run\n")) << "whole lines are kept";
}

TEST_F(TallyLogTest, LinesCarryTimeProcessAndThreadAndLongMessagesAreReplaced) {
  TallyLog log;
  log.write(L"before open %d", 1);
  log.open(data.path(), L"MA-1");
  log.write(L"AppLaunch() Appkey:%ls, n=%d", L"MA-1", 5);
  log.write(L"%ls", std::wstring(2048, L'x').c_str());
  log.write(L"%ls", std::wstring(2049, L'y').c_str());
  log.close();
  log.write(L"after close");

  const std::string text = readWholeFile(file());
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_EQ(lines.size(), 5u) << text.substr(0, 400);
  EXPECT_EQ(lines[0], kLogOpenBanner);
  EXPECT_EQ(lines[4], kLogCloseBanner);
  const auto stamp = R"(\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d:\[\d+-\d+\]\t)";
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string(stamp) + "AppLaunch\\(\\) Appkey:MA-1, n=5"))) << lines[1];
  EXPECT_TRUE(lines[2].ends_with("\t" + std::string(2048, 'x')));
  EXPECT_TRUE(lines[3].ends_with("\tInput va_list too long, won't show the values!!!!!!!!")) << lines[3].substr(0, 100);
}

TEST_F(TallyLogTest, AWriterThatCannotGetTheLogInTimeDropsItsLine) {
  TallyLog log;
  log.open(data.path(), L"MA-1");
  log.setWriteWait(std::chrono::milliseconds(20));
  {
    std::lock_guard busy(log.writerLock());
    std::thread([&] { log.writeLine(L"dropped"); }).join();
  }
  log.writeLine(L"kept");
  const std::string text = readWholeFile(file());
  EXPECT_EQ(text.find("dropped"), std::string::npos);
  EXPECT_NE(text.find("kept"), std::string::npos);
}

}  // namespace
}  // namespace kx::test
