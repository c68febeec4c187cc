#pragma once
// Sessions follow the installer window's time in the foreground: one opens
// with the first event or when the window comes to the front, waits when the
// window leaves, and closes once it has been away for the time-out (two
// minutes). Closed sessions wait for the send thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "telemetry/tally_clock.h"
#include "telemetry/tally_records.h"

namespace kx::telemetry {

class TallyLog;
class TallyStore;
class CSessionMg;

enum SessionStatus { kSessionNew = 0, kSessionWorking = 1, kSessionWaiting = 2, kSessionClosed = 3, kSessionSent = 4 };

// "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X" of a new random GUID.
std::wstring newSessionUuid();

class CSessionData : public std::enable_shared_from_this<CSessionData> {
 public:
  CSessionData(std::wstring uuid, std::uint32_t number) : uuid_(std::move(uuid)), number_(number) {}

  // Starts the time-out thread unless it is running.
  void startTimeOut(CSessionMg& manager);
  // Wakes the time-out thread, waits up to 1000 ms for it to end, and makes
  // the session working again unless it has closed meanwhile.
  void Signal();
  // Closes the session now (at exit); false when it was closed already.
  bool closeNow(std::int64_t now);

  void addEvent(TallyEvent event);
  // The s, e and c lines of this session.
  std::string records();

  int status();
  void setStatus(int status);
  std::int64_t closeTime();
  std::uint32_t number() const { return number_; }
  const std::wstring& uuid() const { return uuid_; }

 private:
  friend class CSessionMg;
  // The body of the time-out thread.
  void TimeOut(CSessionMg& manager);

  const std::wstring uuid_;
  const std::uint32_t number_;
  std::mutex lock_;  // status, times, events, user id
  int m_nSessStatus = kSessionNew;
  std::int64_t startTime_ = 0, interval_ = 0, closeTime_ = 0;
  std::wstring userId_;
  std::vector<TallyEvent> events_;
  ManualEvent wake_;
  BoundedThread timeOutThread_;
};

struct SessionSettings {
  std::shared_ptr<TallyClock> clock;
  std::chrono::milliseconds timeOut{120000};
  std::shared_ptr<TallyLog> log;
  TallyStore* store = nullptr;
  // Starts the send thread unless it runs.
  std::function<void()> signalSend;
};

class CSessionMg {
 public:
  explicit CSessionMg(SessionSettings settings) : settings_(std::move(settings)) {}

  // The counters kept in the state record.
  void loadCounters(std::uint32_t sessionCounter, std::uint32_t lastCloseTime);

  // The current session, made (with a running time-out) when there is none.
  void recordEvent(TallyEvent event);
  void FocusChanged(bool foreground);
  void SessionClosed(const std::shared_ptr<CSessionData>& session, std::int64_t closeTime);
  // Closes the current session at once (exit).
  void closeCurrent();

  // Appends a header (from `header`) and the records of every closed
  // session to `text`, and forgets those sessions. Answers how many it took.
  int GetNeedSendSessions(std::string& text, const std::function<std::string()>& header);

  std::shared_ptr<CSessionData> current();
  TallyClock& clock() { return *settings_.clock; }
  std::chrono::milliseconds timeOut() const { return settings_.timeOut; }
  TallyLog& log() { return *settings_.log; }

 private:
  std::shared_ptr<CSessionData> createSession();  // the manager's lock held

  SessionSettings settings_;
  std::mutex lock_;
  std::shared_ptr<CSessionData> current_;
  std::shared_ptr<CSessionData> standby_;
  std::vector<std::shared_ptr<CSessionData>> closed_;
  std::wstring userId_;
  std::int64_t lastCloseTime_ = 0;
  std::atomic<std::uint32_t> sessionCounter_{0};
};

}  // namespace kx::telemetry
