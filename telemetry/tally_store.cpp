#include "telemetry/tally_store.h"

#include <fstream>
#include <iterator>

#include "common/little_endian.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "telemetry/digest.h"

namespace kx::telemetry {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kDigestSize = 20;
constexpr std::size_t kDeviceIdSize = 40;

std::uint32_t readLittleEndian32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

std::string digestBytes(std::string_view bytes) {
  const Sha1Digest digest = sha1(bytes);
  return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

// The part after the digest when the digest matches it.
std::optional<std::string_view> guarded(std::string_view bytes) {
  if (bytes.size() < kDigestSize) return std::nullopt;
  const std::string_view content = bytes.substr(kDigestSize);
  if (digestBytes(content) != bytes.substr(0, kDigestSize)) return std::nullopt;
  return content;
}

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void removeQuietly(const fs::path& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

}  // namespace

std::wstring appKeyFolderName(const std::wstring& appKey) {
  return appKey.size() > 99 ? appKey.substr(0, 100) : appKey;
}

std::string encodeStateRecord(const StateRecord& record) {
  std::string content;
  LittleEndianWriter(content).u32(static_cast<std::uint32_t>(record.uploadCounter)).u32(record.firstRunTime);
  std::string id = record.deviceId.substr(0, kDeviceIdSize);
  id.resize(kDeviceIdSize, '\0');
  LittleEndianWriter(content).raw(id).u32(record.sessionCounter).u32(record.lastCloseTime);
  return digestBytes(content) + content;
}

std::optional<StateRecord> decodeStateRecord(std::string_view bytes) {
  if (bytes.size() < kStateRecordSize) return std::nullopt;
  const auto content = guarded(bytes.substr(0, kStateRecordSize));
  if (!content) return std::nullopt;
  StateRecord record;
  record.uploadCounter = static_cast<std::int32_t>(readLittleEndian32(*content, 0));
  record.firstRunTime = readLittleEndian32(*content, 4);
  record.deviceId = std::string(content->substr(8, kDeviceIdSize));
  record.deviceId.resize(record.deviceId.find('\0') == std::string::npos ? kDeviceIdSize : record.deviceId.find('\0'));
  record.sessionCounter = readLittleEndian32(*content, 48);
  record.lastCloseTime = readLittleEndian32(*content, 52);
  return record;
}

std::string encodePayloadFile(const std::vector<std::string>& payloads) {
  const std::size_t count = std::min(payloads.size(), kMaxStoredPayloads);
  std::string content;
  LittleEndianWriter writer(content);
  writer.u32(count);
  // When there are more than fit, the newest are kept.
  for (std::size_t i = payloads.size() - count; i < payloads.size(); ++i)
    writer.u32(payloads[i].size()).raw(payloads[i]);
  return digestBytes(content) + content;
}

std::optional<std::vector<std::string>> decodePayloadFile(std::string_view bytes) {
  if (bytes.size() < kDigestSize + 1) return std::nullopt;
  const auto content = guarded(bytes);
  if (!content || content->size() < 4) return std::nullopt;
  const std::uint32_t count = readLittleEndian32(*content, 0);
  if (count > kMaxStoredPayloads) return std::nullopt;
  std::vector<std::string> payloads;
  std::size_t at = 4;
  // Payloads are taken while they fit in the file.
  while (payloads.size() < count && at + 4 <= content->size()) {
    const std::uint32_t length = readLittleEndian32(*content, at);
    if (length > content->size() - at - 4) break;
    payloads.emplace_back(content->substr(at + 4, length));
    at += 4 + length;
  }
  return payloads;
}

TallyStore::TallyStore(fs::path commonAppData, std::wstring appKey)
    : commonAppData_(std::move(commonAppData)), appKey_(std::move(appKey)) {}

fs::path TallyStore::folder() {
  std::lock_guard guard(folderLock_);
  if (!folder_) {
    folder_ = commonAppData_ / "NimbrelTally" / platform::wideToFileSystem(appKeyFolderName(appKey_));
    // A folder that cannot be made leaves the path; the file operations then fail quietly.
    std::error_code ec;
    fs::create_directories(*folder_, ec);
  }
  return *folder_;
}

fs::path TallyStore::stateFile() { return folder() / "daEvc.dat"; }
fs::path TallyStore::payloadFile() { return folder() / "daMetr.dat"; }

std::optional<StateRecord> TallyStore::readState() {
  std::lock_guard guard(stateLock_);
  const fs::path path = stateFile();
  const auto bytes = readFile(path);
  if (!bytes) return std::nullopt;
  auto record = decodeStateRecord(*bytes);
  if (!record) removeQuietly(path);
  return record;
}

void TallyStore::updateState(const std::function<void(StateRecord&)>& change) {
  std::lock_guard guard(stateLock_);
  const fs::path path = stateFile();
  StateRecord record;
  if (const auto bytes = readFile(path)) {
    if (auto stored = decodeStateRecord(*bytes)) {
      record = *stored;
    } else {
      removeQuietly(path);
    }
  }
  change(record);
  platform::writeFileAtomically(path, encodeStateRecord(record));
}

std::vector<std::string> TallyStore::takePayloads() {
  std::lock_guard guard(payloadLock_);
  const fs::path path = payloadFile();
  const auto bytes = readFile(path);
  if (!bytes) return {};
  removeQuietly(path);
  return decodePayloadFile(*bytes).value_or(std::vector<std::string>{});
}

void TallyStore::savePayloads(const std::vector<std::string>& payloads) {
  if (payloads.empty()) return;
  std::lock_guard guard(payloadLock_);
  platform::writeFileAtomically(payloadFile(), encodePayloadFile(payloads));
}

}  // namespace kx::telemetry
