#include "telemetry/event_ctrl.h"

#include "common/strings.h"
#include "platform/codepage.h"
#include "telemetry/gzip_writer.h"

namespace kx::telemetry {

CEventCtrl::CEventCtrl(EventCtrlSettings settings, CSessionMg& sessions, std::function<std::string()> header)
    : settings_(std::move(settings)), sessions_(sessions), header_(std::move(header)) {}

CEventCtrl::~CEventCtrl() { stopWatch(std::chrono::milliseconds(2000)); }

void CEventCtrl::setHistory(std::vector<std::string> payloads) {
  std::lock_guard guard(send_->historyLock);
  send_->history = std::move(payloads);
}

std::vector<std::string> CEventCtrl::history() {
  std::lock_guard guard(send_->historyLock);
  return send_->history;
}

void CEventCtrl::startWatch() {
  stop_.reset();
  watch_.start([this] { CheckWnds(); });
}

void CEventCtrl::stopWatch(std::chrono::milliseconds wait) {
  stop_.set();
  watch_.waitFor(wait);
}

void CEventCtrl::CheckWnds() {
  bool previous = false;
  for (int polls = 1;; ++polls) {
    const bool foreground = settings_.foreground();
    if (foreground != previous) {
      sessions_.FocusChanged(foreground);
      previous = foreground;
    }
    if (polls % settings_.pollsPerHistoryWake == 0 && !history().empty()) {
      settings_.log->write(L"CEventCtrl::CheckWnds() wake up the send thread.");
      SignalSend();
    }
    if (settings_.clock->wait(stop_, settings_.pollInterval)) return;
  }
}

void CEventCtrl::SignalSend() {
  const auto state = send_;
  std::lock_guard guard(state->threadLock);
  if (state->thread.running() || state->abandoned) return;
  state->thread.start([this, state] { StartSends(state); });
}

void CEventCtrl::StartSends(const std::shared_ptr<SendState>& state) {
  // Held by this thread alone, so an abandoned run can still finish safely.
  const std::shared_ptr<TallyLog> log = settings_.log;
  const std::shared_ptr<HttpSender> sender = settings_.sender;
  const std::shared_ptr<PayloadCipher> cipher = settings_.cipher;

  // 1. Stored payloads, oldest first; the first failure stops all sending of this run.
  std::vector<std::string> stored;
  {
    std::lock_guard guard(state->historyLock);
    stored = state->history;
  }
  bool historyFailed = false;
  for (const std::string& payload : stored) {
    if (sender->Post(payload, &state->cancel) != 0) {
      log->write(L"Error: CEventCtrl::vSendHisSess() Send histroy failed, no need to send others!!");
      historyFailed = true;
      break;
    }
    std::lock_guard guard(state->historyLock);
    if (state->abandoned) return;
    state->history.erase(state->history.begin());
  }

  // 2.-4. The records of every closed session as one payload.
  std::string text;
  if (!state->abandoned && sessions_.GetNeedSendSessions(text, header_) > 0) {
    std::string payload;
    const auto packed = GzipWriter::write(toUtf8(platform::fileSystemToWide(text)));
    if (packed && cipher->Encrypt(*packed, payload)) {
      // Kept in the history while it is posted, so that a run abandoned at
      // exit leaves it to be stored.
      std::size_t at = 0;
      {
        std::lock_guard guard(state->historyLock);
        if (state->abandoned) return;
        state->history.push_back(payload);
        at = state->history.size() - 1;
      }
      if (!historyFailed && sender->Post(payload, &state->cancel) == 0) {
        std::lock_guard guard(state->historyLock);
        if (state->abandoned) return;
        state->history.erase(state->history.begin() + static_cast<std::ptrdiff_t>(at));
        log->write(L"CEventCtrl::StartSends() Send current success.");
      } else {
        log->write(L"Error: CEventCtrl::StartSends() Send current failed, save to history!!");
      }
    }
  }
  log->write(L"CEventCtrl::StartSends() exit");
}

std::vector<std::string> CEventCtrl::finishSending(std::chrono::milliseconds wait) {
  const auto state = send_;
  BoundedThread thread;
  {
    std::lock_guard guard(state->threadLock);
    thread = state->thread;
  }
  const bool ended = thread.waitFor(wait);
  std::lock_guard threadGuard(state->threadLock);
  std::lock_guard guard(state->historyLock);
  if (!ended) {
    state->abandoned = true;
    state->cancel = true;
  }
  std::vector<std::string> left = std::move(state->history);
  state->history.clear();
  return left;
}

}  // namespace kx::telemetry
