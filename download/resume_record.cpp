#include "download/resume_record.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "common/strings.h"
#include "platform/codepage.h"
#include "platform/atomic_file.h"

namespace kx {

namespace {

using nlohmann::json;

// Segment ids are held in the code page 936 form; the file holds UTF-8.
std::string idToUtf8(const std::string& id) { return toUtf8(platform::cp936ToWide(id)); }
std::string idFromUtf8(const std::string& text) { return platform::wideToCp936(fromUtf8(text)); }

const json& field(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) throw std::runtime_error(std::string("missing ") + key);
  return *it;
}

bool boolean(const json& object, const char* key) {
  const json& value = field(object, key);
  if (!value.is_boolean()) throw std::runtime_error(std::string("not a boolean: ") + key);
  return value.get<bool>();
}

std::uint64_t number(const json& object, const char* key) {
  const json& value = field(object, key);
  if (!value.is_number()) throw std::runtime_error(std::string("not a number: ") + key);
  return value.get<std::uint64_t>();
}

std::string text(const json& object, const char* key) {
  const json& value = field(object, key);
  if (!value.is_string()) throw std::runtime_error(std::string("not a string: ") + key);
  return value.get<std::string>();
}

ResumeRecord parse(const json& document) {
  ResumeRecord record;
  record.supportResume = boolean(document, "supportResume");
  record.size = number(document, "size");
  record.url = text(document, "url");
  record.dst = fromUtf8(text(document, "dst"));
  const auto range = document.find("range");
  if (range == document.end()) return record;
  if (!range->is_array()) throw std::runtime_error("range is not an array");
  for (const json& item : *range) {
    ResumeSegment segment;
    segment.bFinished = boolean(item, "bFinished");
    segment.bRange = boolean(item, "bRange");
    segment.start = number(item, "start");
    segment.length = number(item, "length");
    segment.seek = number(item, "seek");
    segment.tmp = idFromUtf8(text(item, "tmp"));
    record.range.push_back(std::move(segment));
  }
  return record;
}

}  // namespace

std::wstring ResumeRecordPath(const std::wstring& destination) { return destination + L".cfg"; }

std::string ResumeRecordText(const ResumeRecord& record) {
  json range = json::array();
  for (const ResumeSegment& segment : record.range) {
    range.push_back({{"bFinished", segment.bFinished},
                     {"bRange", segment.bRange},
                     {"start", segment.start},
                     {"length", segment.length},
                     {"seek", segment.seek},
                     {"tmp", idToUtf8(segment.tmp)}});
  }
  const json document = {{"supportResume", record.supportResume},
                         {"size", record.size},
                         {"url", record.url},
                         {"dst", toUtf8(record.dst)},
                         {"range", std::move(range)}};
  return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

void SaveResumeRecord(const std::wstring& recordPath, const ResumeRecord& record) {
  platform::writeFileAtomically(platform::wideToFileSystem(recordPath), ResumeRecordText(record));
}

bool LoadResumeRecord(const std::wstring& recordPath, ResumeRecord& record) {
  if (recordPath.empty()) return false;
  const std::filesystem::path file(platform::wideToFileSystem(recordPath));
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return false;
  try {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    record = parse(json::parse(in, nullptr, true, false));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace kx
