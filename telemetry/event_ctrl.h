#pragma once
// The client's threads that reach outside: the foreground watch, which turns
// the window's comings and goings into session changes, and the send thread,
// which posts stored payloads first and then the records of closed sessions.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "telemetry/http_sender.h"
#include "telemetry/payload_cipher.h"
#include "telemetry/tally_clock.h"
#include "telemetry/tally_log.h"
#include "telemetry/tally_sessions.h"

namespace kx::telemetry {

struct EventCtrlSettings {
  std::shared_ptr<TallyClock> clock;
  std::shared_ptr<TallyLog> log;
  std::shared_ptr<HttpSender> sender;
  std::shared_ptr<PayloadCipher> cipher;
  std::function<bool()> foreground;  // whether the installer's window is in front
  std::chrono::milliseconds pollInterval{1000};
  int pollsPerHistoryWake = 120;
};

class CEventCtrl {
 public:
  CEventCtrl(EventCtrlSettings settings, CSessionMg& sessions, std::function<std::string()> header);
  ~CEventCtrl();

  void setHistory(std::vector<std::string> payloads);
  std::vector<std::string> history();

  void startWatch();
  // Ends the watch thread, waiting at most `wait`.
  void stopWatch(std::chrono::milliseconds wait);

  // Starts the send thread unless one runs.
  void SignalSend();
  // Waits at most `wait` for a running send thread; one still running then
  // is abandoned: its request is cancelled and it changes the history no more.
  // Answers the history, which the caller stores, and empties it.
  std::vector<std::string> finishSending(std::chrono::milliseconds wait);

 private:
  // What the send thread shares with the client; it outlives an abandoned thread's client.
  struct SendState {
    std::mutex historyLock;
    std::vector<std::string> history;  // oldest first
    std::atomic<bool> abandoned{false};
    std::atomic<bool> cancel{false};
    std::mutex threadLock;  // starting and ending the send thread
    BoundedThread thread;
  };

  void CheckWnds();
  void StartSends(const std::shared_ptr<SendState>& state);

  EventCtrlSettings settings_;
  CSessionMg& sessions_;
  std::function<std::string()> header_;
  std::shared_ptr<SendState> send_ = std::make_shared<SendState>();
  ManualEvent stop_;
  BoundedThread watch_;
};

}  // namespace kx::telemetry
