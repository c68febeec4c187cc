// The way a payload travels: one gzip member that other readers open, AES
// blocks the service decrypts with the key it was given, and a POST whose
// answer counts only when it is exactly the service's acceptance.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>

#include "common/build_config.h"
#include "telemetry/gzip_writer.h"
#include "telemetry/http_sender.h"
#include "telemetry/payload_cipher.h"
#include "tests/support/collection_service.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx::test {
namespace {

using telemetry::GzipWriter;
using telemetry::HttpSender;
using telemetry::PayloadCipher;

std::string inflateWithZlib(const std::string& member) {
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, 16 + MAX_WBITS), Z_OK);  // gzip wrapper expected
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(member.data()));
  stream.avail_in = static_cast<uInt>(member.size());
  std::string out;
  int status = Z_OK;
  while (status == Z_OK) {
    char chunk[1000];
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - stream.avail_out);
  }
  EXPECT_EQ(status, Z_STREAM_END);
  EXPECT_EQ(stream.avail_in, 0u) << "bytes after the member";
  inflateEnd(&stream);
  return out;
}

TEST(GzipWriterTest, HeaderIsFixedAndTheMemberOpensInZlibAndPython) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "{\"dataType\":\"e\",\"n\":" + std::to_string(i * 7919 % 1000) + "}\n";
  const auto member = GzipWriter::write(text);
  ASSERT_TRUE(member);
  EXPECT_EQ(member->substr(0, 10), std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x0B", 10));
  EXPECT_LT(member->size(), text.size() / 4) << "the text is compressed";
  EXPECT_EQ(inflateWithZlib(*member), text);

  TempDir folder;
  writeWholeFile(folder.file("member.gz"), *member);
  const auto python = runPython("import gzip,sys,hashlib; d=gzip.open(sys.argv[1]).read(); print(len(d), hashlib.sha1(d).hexdigest())",
                                shellQuote(folder.file("member.gz")));
  const auto expected = runPython("import sys,hashlib; d=open(sys.argv[1],'rb').read(); print(len(d), hashlib.sha1(d).hexdigest())",
                                  [&] {
                                    writeWholeFile(folder.file("plain"), text);
                                    return shellQuote(folder.file("plain"));
                                  }());
  EXPECT_EQ(python.exitCode, 0);
  EXPECT_EQ(python.output, expected.output);
}

TEST(GzipWriterTest, EmptyInputIsAValidMember) {
  const auto member = GzipWriter::write("");
  ASSERT_TRUE(member);
  EXPECT_EQ(inflateWithZlib(*member), "");
}

// openssl enc decrypts with the key the service holds; its padding check is the standard one.
std::string decryptWithOpenssl(const std::string& cipherText, const telemetry::PayloadKey& key) {
  TempDir folder;
  writeWholeFile(folder.file("in"), cipherText);
  std::string hex;
  for (const auto byte : key) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  const auto result = runCommand("openssl enc -d -aes-128-ecb -K " + hex + " -in " + shellQuote(folder.file("in")));
  EXPECT_EQ(result.exitCode, 0);
  return result.output;
}

TEST(PayloadCipherTest, PadsToTheNextBlockAndAFullBlockWhenAligned) {
  PayloadCipher cipher;
  const telemetry::PayloadKey key = PayloadCipher::mixKey(telemetryKeyConstant());
  struct Case {
    std::size_t plain, encrypted;
  } cases[] = {{0, 16}, {1, 16}, {15, 16}, {16, 32}, {31, 32}, {32, 48}, {33, 48}};
  for (const auto& c : cases) {
    std::string plain(c.plain, '\0');
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<char>('a' + i % 26);
    std::string out;
    ASSERT_TRUE(cipher.Encrypt(plain, out));
    EXPECT_EQ(out.size(), c.encrypted) << c.plain;
    EXPECT_EQ(decryptWithOpenssl(out, key), plain) << c.plain;
  }
}

TEST(PayloadCipherTest, EachBlockIsEncryptedOnItsOwn) {
  PayloadCipher cipher;
  std::string out;
  ASSERT_TRUE(cipher.Encrypt(std::string(32, 'x'), out));
  EXPECT_EQ(out.substr(0, 16), out.substr(16, 16)) << "equal blocks give equal cipher blocks (ECB)";
}

TEST(PayloadCipherTest, KeyIsMixedFromTheConstantNotTheConstantItself) {
  const auto constant = telemetryKeyConstant();
  const auto key = PayloadCipher::mixKey(constant);
  EXPECT_NE(key, constant);
  EXPECT_EQ(PayloadCipher::mixKey(constant), key) << "the same constant always gives the same key";
}

// --- posting ---

class HttpSenderTest : public ::testing::Test {
 protected:
  int post(const std::string& payload = "0123456789abcdef") {
    HttpSender sender(service.hostAndPort());
    sender.setIdentity("7.6.5.4", std::string(40, 'A'));
    sender.setUploadTime(1700000123);
    return sender.Post(payload);
  }

  CollectionService service;
};

TEST_F(HttpSenderTest, SendsTheSixHeadersInOrderAndTheBodyAsItIs) {
  const std::string payload(48, '\x7F');
  ASSERT_EQ(post(payload), 0);
  const auto requests = service.received();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request["path"], "/receiver");
  std::vector<std::string> names;
  std::map<std::string, std::string> values;
  for (const auto& header : request["headers"]) {
    names.push_back(header[0]);
    values[header[0]] = header[1];
  }
  const std::vector<std::string> ours{"x-upload-time", "Content-Type", "Content-Encoding",
                                      "Content-Length", "SDK-Ver",      "Hashed-APPKEY"};
  std::vector<std::string> seen;
  for (const auto& name : names)
    if (std::find(ours.begin(), ours.end(), name) != ours.end()) seen.push_back(name);
  EXPECT_EQ(seen, ours);
  EXPECT_EQ(values["x-upload-time"], "1700000123");
  EXPECT_EQ(values["Content-Type"], "application/x-gzip");
  EXPECT_EQ(values["Content-Encoding"], "gzip");
  EXPECT_EQ(values["Content-Length"], "48");
  EXPECT_EQ(values["SDK-Ver"], "7.6.5.4");
  EXPECT_EQ(values["Hashed-APPKEY"], std::string(40, 'A'));
  EXPECT_EQ(values["User-Agent"], "User-Agent");
  EXPECT_EQ(request["length"], 48);
}

TEST_F(HttpSenderTest, OnlyTheExactAcceptanceCounts) {
  struct Case {
    const char* answer;
    bool accepted;
  } cases[] = {{"ok", true},       {"status", false}, {"type", false},
               {"charset", false}, {"spaced", false}, {"long", false}};
  for (const auto& c : cases) {
    service.answer({c.answer});
    EXPECT_EQ(post() == 0, c.accepted) << c.answer;
  }
}

TEST_F(HttpSenderTest, AStalledServiceFailsAfterTheShortTimeOutOnceShuttingDown) {
  service.answer({"stall"});
  HttpSender sender(service.hostAndPort());
  sender.setShuttingDown(true);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(sender.Post("0123456789abcdef"), 0);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(1900));
  EXPECT_LT(took, std::chrono::milliseconds(4500));
}

TEST_F(HttpSenderTest, ACancelledPostEndsAtOnce) {
  service.answer({"stall"});
  HttpSender sender(service.hostAndPort());
  std::atomic<bool> cancel{false};
  std::thread canceller([&] {
    ASSERT_TRUE(service.waitForRequests(1));
    cancel = true;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(sender.Post("0123456789abcdef", &cancel), 0);
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
}

TEST(HttpSenderRefusedTest, ARefusedConnectionIsAFailure) {
  HttpSender sender("127.0.0.1:9");
  EXPECT_NE(sender.Post("0123456789abcdef"), 0);
}

}  // namespace
}  // namespace kx::test
