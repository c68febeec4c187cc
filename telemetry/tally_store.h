#pragma once
// The telemetry's files in the shared application data folder: the state
// record "daEvc.dat" and the unsent payloads "daMetr.dat", each guarded by a
// SHA-1 digest. A file that fails its digest is deleted and counts as absent.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kx::telemetry {

struct StateRecord {
  std::int32_t uploadCounter = 0;
  std::uint32_t firstRunTime = 0;  // seconds since 1970
  std::string deviceId;            // 40 upper-case hex digits, or empty
  std::uint32_t sessionCounter = 0;
  std::uint32_t lastCloseTime = 0;  // seconds since 1970
};

inline constexpr std::size_t kStateRecordSize = 76;
inline constexpr std::size_t kMaxStoredPayloads = 65535;

// The folder name an app key gives: its first 100 characters when it is longer than 99.
std::wstring appKeyFolderName(const std::wstring& appKey);

// "daEvc.dat" as bytes, and back; nothing when the bytes fail their digest or are too short.
std::string encodeStateRecord(const StateRecord& record);
std::optional<StateRecord> decodeStateRecord(std::string_view bytes);
// "daMetr.dat" as bytes (at most kMaxStoredPayloads, the oldest first), and back.
std::string encodePayloadFile(const std::vector<std::string>& payloads);
std::optional<std::vector<std::string>> decodePayloadFile(std::string_view bytes);

class TallyStore {
 public:
  // Files under `commonAppData` \ "NimbrelTally" \ app key.
  TallyStore(std::filesystem::path commonAppData, std::wstring appKey);

  // The data folder, made on first use.
  std::filesystem::path folder();

  std::optional<StateRecord> readState();
  // Reads the record (a zeroed one when absent or invalid), lets `change`
  // alter it and writes it back whole.
  void updateState(const std::function<void(StateRecord&)>& change);

  // Reads the unsent payloads and deletes the file.
  std::vector<std::string> takePayloads();
  // Replaces the file with `payloads`; writes nothing when there are none.
  void savePayloads(const std::vector<std::string>& payloads);

 private:
  std::filesystem::path stateFile();
  std::filesystem::path payloadFile();

  std::filesystem::path commonAppData_;
  std::wstring appKey_;
  std::mutex folderLock_;
  std::optional<std::filesystem::path> folder_;
  std::mutex stateLock_;
  std::mutex payloadLock_;
};

}  // namespace kx::telemetry
