#pragma once
// The plan of a segmented download and how far each byte range has got. It is
// mirrored to a JSON file beside the destination (destination + ".cfg") so that
// an interrupted download resumes where it stopped.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kx {

class DownloadWriter;

struct ResumeSegment {
  bool bFinished = false;
  bool bRange = true;
  bool failed = false;  // in memory only: the last attempt failed and no data arrived since
  std::uint64_t start = 0;
  std::uint64_t length = 0;
  std::uint64_t seek = 0;  // bytes written so far, counted from start
  std::string tmp;         // segment id: file name + "_id_" + index
};

struct ResumeRecord {
  bool supportResume = false;
  std::uint64_t size = 0;
  std::string url;
  std::wstring dst;
  // The server's ETag (a strong one) or else its Last-Modified when the plan
  // was made; empty when it gave neither. Ranges are asked for on condition
  // that the file is still this one.
  std::string validator;
  std::shared_ptr<DownloadWriter> writer;  // in memory only
  std::vector<ResumeSegment> range;
};

// destination + ".cfg"
std::wstring ResumeRecordPath(const std::wstring& destination);

// The record file's text: one JSON object, keys sorted, no whitespace. The
// validator is written only when there is one ("validator"); readers that do
// not know the key pass over it.
std::string ResumeRecordText(const ResumeRecord& record);

// Writes the record file so that a crash during the save keeps the previous one.
// Failures are not reported: the next save tries again.
void SaveResumeRecord(const std::wstring& recordPath, const ResumeRecord& record);

// Fills `record` from the record file. False (and `record` untouched) when the
// path is empty, the file is missing or unreadable, is not JSON, or lacks a key
// or has a value of the wrong type or a negative number.
bool LoadResumeRecord(const std::wstring& recordPath, ResumeRecord& record);

// Whether `record` describes exactly the download of `url` into `path` of
// `size` bytes, as a record this program wrote for it does: its ranges tile 0
// to size in order without gap or overlap, each has 0 <= seek <= length, a
// finished one is wholly written, ids are distinct; and the file at `path`
// has that size. Only such a record may steer writes into the file.
bool ResumeRecordFits(const ResumeRecord& record, const std::string& url, const std::wstring& path,
                      std::uint64_t size);

}  // namespace kx
