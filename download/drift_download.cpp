#include "download/drift_download.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "common/strings.h"
#include "download/drift_library/drift_codes.h"
#include "download/drift_library/velo_drift.h"
#include "flavour/flavour.h"
#include "platform/clock.h"
#include "platform/codepage.h"

namespace kx {

namespace {

using nlohmann::json;

// Reading one message: a present field of the wrong type makes the whole
// message void, since the library sent something this engine does not understand.
class MessageFields {
 public:
  explicit MessageFields(std::string_view text) : message_(json::parse(text, nullptr, false)) {}

  bool usable() const { return message_.is_object() && !wrongType_; }

  std::string text(const char* key) {
    const json* field = find(key);
    if (!field) return {};
    if (!field->is_string()) return wrong();
    return field->get<std::string>();
  }

  // Any JSON number, a boolean counting as 0 or 1.
  double number(const char* key, double absent) {
    const json* field = find(key);
    if (!field) return absent;
    if (field->is_boolean()) return field->get<bool>() ? 1 : 0;
    if (!field->is_number()) return wrong(), absent;
    return field->get<double>();
  }

  std::int32_t integer(const char* key, std::int32_t absent) {
    const double value = std::trunc(number(key, absent));
    constexpr double low = std::numeric_limits<std::int32_t>::min(), high = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(value, low, high));
  }

 private:
  const json* find(const char* key) const {
    if (!message_.is_object()) return nullptr;
    const auto it = message_.find(key);
    return it == message_.end() ? nullptr : &*it;
  }
  std::string wrong() {
    wrongType_ = true;
    return {};
  }

  json message_;
  bool wrongType_ = false;
};

bool isInternalEventName(const std::string& name) {
  static const std::set<std::string> names = {drift::kEventStart,      drift::kEventConfig,       drift::kEventEnd,
                                              drift::kEventLocalCheck, drift::kEventRetry,        drift::kEventRequestStart,
                                              drift::kEventQueueClear};
  return names.count(name) > 0;
}

constexpr char kQueueClearCommand[] = R"({"methodId":"downloadqueueclear"})";
constexpr char kCancelCommand[] = R"({"methodId":"downloadcancel"})";

}  // namespace

std::string driftDownloadCommand(const std::string& url, const std::wstring& path, std::uint64_t size,
                                 const std::string& md5, std::uint64_t downloadId) {
  const bool northAmerica = isProdNa || isProdNaUat;
  const json file = {{"targeturl", url}, {"filepath", toUtf8(path)}, {"md5", md5.empty() ? "NotMD5" : md5},
                     {"size", "0"},      {"first", ""},                {"last", ""}};
  const json command = {
      {"methodId", "download"},
      {"downloadid", std::to_string(downloadId)},
      {"projectid", northAmerica ? "up1na" : isEdu ? "up3" : "up1"},
      {"oversea", northAmerica ? "1" : "0"},
      {"wifionly", "false"},
      {"threadnum", size > (1ull << 30) ? "5" : "3"},
      {"downfile", json::array({file})},
      {"callback_interval", "1500"},
      {"type", "patch"},
      {"isrenew", "false"},
      {"netlimit", "0"},
      {"priority", "0"},
      {"priority_task", "false"},
      {"rammode", "false"},
      {"ramlimit", "33554432"},
      {"retry", "5"},
      {"logopen", "true"},
      {"connect_timeout", "60000"},
  };
  return command.dump();  // object keys come out sorted, without whitespace
}

std::optional<DriftProgress> readDriftProgress(std::string_view message) {
  MessageFields fields(message);
  const std::string id = fields.text("downloadid");
  const double progress = fields.number("progress", 0);
  const std::int32_t speed = fields.integer("speed", 0);
  if (!fields.usable() || id.empty()) return std::nullopt;
  const double percent = std::clamp(progress * 100, 0.0, 100.0);
  return DriftProgress{static_cast<std::int32_t>(percent), static_cast<std::uint32_t>(std::max(speed, 0))};
}

DriftEvent readDriftEvent(std::string_view message) {
  MessageFields fields(message);
  const std::string id = fields.text("downloadid");
  fields.text("sessionid");
  const std::int32_t code = fields.integer("code", 11);
  const std::string fileName = fields.text("filename");
  fields.text("filepath");
  fields.text("error");
  if (!fields.usable() || id.empty()) return DriftEvent::Ignored;
  if (code != 0 && code != -1) return DriftEvent::Failed;
  return isInternalEventName(fileName) ? DriftEvent::Ignored : DriftEvent::Finished;
}

class CDriftDownload::CDriftListener final : public VeloDrift::IVeloDownloadListener {
 public:
  explicit CDriftListener(CDriftDownload* owner) : owner_(owner) {}
  // Nothing may leave these two into the library.
  void OnProgressMessage(const char* message) override {
    try {
      owner_->OnProgressMessage(message);
    } catch (...) {
    }
  }
  void OnEventMessage(const char* message, std::int32_t) override {
    try {
      owner_->OnEventMessage(message);
    } catch (...) {
    }
  }

 private:
  CDriftDownload* const owner_;
};

CDriftDownload::CDriftDownload(IDownloadCallBack* installCallback, IDownloadStateCallBack* stateCallback)
    : installCallback_(installCallback),
      stateCallback_(stateCallback),
      library_(VeloDrift::IVeloDownloadInterface::getDLInst()),
      listener_(std::make_unique<CDriftListener>(this)) {
  library_->SetListener(listener_.get());
}

CDriftDownload::~CDriftDownload() {
  running_ = false;
  sendStopCommands();
  library_->SetListener(nullptr);  // waits for a listener call under way
}

void CDriftDownload::Download(const std::string& url, const std::wstring& path, std::uint64_t size,
                              const std::string& md5) {
  Stop();
  {
    std::lock_guard<std::mutex> lock(fieldsLock_);
    url_ = platform::fileSystemToWide(url);
    path_ = path;
    size_ = size;
    md5_ = md5;
  }
  finishedOk_ = false;
  // Set before the command goes out, so that the reports of this run pass and
  // those of a stopped run, arriving late from the library's threads, do not.
  running_ = true;
  SendDownloadCommand();
}

void CDriftDownload::SendDownloadCommand() {
  std::string command;
  {
    std::lock_guard<std::mutex> lock(fieldsLock_);
    command = driftDownloadCommand(toUtf8(url_), path_, size_, md5_, platform::tickCount());
  }
  library_->SendCommand(command.c_str());
}

void CDriftDownload::Stop() {
  running_ = false;
  sendStopCommands();
}

void CDriftDownload::sendStopCommands() {
  library_->SendCommand(kQueueClearCommand);
  library_->SendCommand(kCancelCommand);
}

void CDriftDownload::Resume(bool resume) {
  if (!resume) return;
  std::string url, md5;
  std::wstring path;
  std::uint64_t size;
  {
    std::lock_guard<std::mutex> lock(fieldsLock_);
    url = platform::wideToFileSystem(url_);
    path = path_;
    size = size_;
    md5 = md5_;
  }
  Download(url, path, size, md5);
}

std::int32_t CDriftDownload::GetTaskCount() { return running_ ? 1 : 0; }

std::string CDriftDownload::destination() {
  std::lock_guard<std::mutex> lock(fieldsLock_);
  return platform::wideToFileSystem(path_);
}

void CDriftDownload::OnProgressMessage(const char* message) {
  if (!message || !running_) return;
  const auto progress = readDriftProgress(message);
  if (progress && installCallback_) installCallback_->OnProgress(progress->percent, progress->bytesPerSecond, destination());
}

void CDriftDownload::OnEventMessage(const char* message) {
  if (!message || !running_) return;
  switch (readDriftEvent(message)) {
    case DriftEvent::Failed:
      finishedOk_ = false;
      if (installCallback_ && stateCallback_) stateCallback_->OnEngineFailed();
      break;
    case DriftEvent::Finished:
      finishedOk_ = true;
      if (installCallback_) installCallback_->OnFinished(destination());
      break;
    case DriftEvent::Ignored:
      break;
  }
}

}  // namespace kx
