#include "telemetry/tally_sessions.h"

#include <array>
#include <cwchar>

#include "platform/random.h"
#include "telemetry/tally_log.h"
#include "telemetry/tally_store.h"

namespace kx::telemetry {

namespace {

constexpr auto kSignalWait = std::chrono::milliseconds(1000);

}  // namespace

std::wstring newSessionUuid() {
  std::array<std::uint8_t, 16> b{};
  platform::secureRandomBytes(b);
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  const unsigned data1 = (unsigned{b[0]} << 24) | (unsigned{b[1]} << 16) | (unsigned{b[2]} << 8) | b[3];
  wchar_t text[40];
  std::swprintf(text, 40, L"%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", data1, (unsigned{b[4]} << 8) | b[5],
                (unsigned{b[6]} << 8) | b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

// --- one session ---

void CSessionData::startTimeOut(CSessionMg& manager) {
  std::lock_guard guard(lock_);
  if (timeOutThread_.running() || m_nSessStatus >= kSessionClosed) return;
  wake_.reset();
  timeOutThread_.start([self = shared_from_this(), &manager] { self->TimeOut(manager); });
}

void CSessionData::TimeOut(CSessionMg& manager) {
  {
    std::lock_guard guard(lock_);
    if (m_nSessStatus >= kSessionClosed) return;
    m_nSessStatus = kSessionWaiting;
    closeTime_ = manager.clock().now();
  }
  const bool woken = manager.clock().wait(wake_, manager.timeOut());
  std::int64_t closeTime = 0;
  {
    std::lock_guard guard(lock_);
    // A session closed meanwhile (at exit) keeps its close time.
    if (m_nSessStatus >= kSessionClosed) return;
    if (woken) {
      closeTime_ = 0;
      return;
    }
    m_nSessStatus = kSessionClosed;
    closeTime = closeTime_;
  }
  manager.SessionClosed(shared_from_this(), closeTime);
}

void CSessionData::Signal() {
  wake_.set();
  BoundedThread thread;
  {
    std::lock_guard guard(lock_);
    thread = timeOutThread_;
  }
  thread.waitFor(kSignalWait);
  std::lock_guard guard(lock_);
  if (m_nSessStatus != kSessionClosed && m_nSessStatus != kSessionSent) m_nSessStatus = kSessionWorking;
}

bool CSessionData::closeNow(std::int64_t now) {
  {
    std::lock_guard guard(lock_);
    if (m_nSessStatus >= kSessionClosed) return false;
    m_nSessStatus = kSessionClosed;
    if (closeTime_ == 0) closeTime_ = now;
  }
  wake_.set();  // a waiting time-out thread ends without touching the session
  return true;
}

void CSessionData::addEvent(TallyEvent event) {
  std::lock_guard guard(lock_);
  event.userId = userId_;
  events_.push_back(std::move(event));
}

std::string CSessionData::records() {
  std::lock_guard guard(lock_);
  SessionRecord record;
  record.status = m_nSessStatus;
  record.uuid = uuid_;
  record.number = number_;
  record.startTime = startTime_;
  record.interval = interval_;
  record.closeTime = closeTime_;
  record.userId = userId_;
  record.events = &events_;
  return sessionLines(record);
}

int CSessionData::status() {
  std::lock_guard guard(lock_);
  return m_nSessStatus;
}

void CSessionData::setStatus(int status) {
  std::lock_guard guard(lock_);
  m_nSessStatus = status;
}

std::int64_t CSessionData::closeTime() {
  std::lock_guard guard(lock_);
  return closeTime_;
}

// --- the manager ---

void CSessionMg::loadCounters(std::uint32_t sessionCounter, std::uint32_t lastCloseTime) {
  std::lock_guard guard(lock_);
  sessionCounter_ = sessionCounter;
  lastCloseTime_ = lastCloseTime;
}

std::shared_ptr<CSessionData> CSessionMg::createSession() {
  const std::uint32_t number = ++sessionCounter_;
  if (settings_.store) settings_.store->updateState([number](StateRecord& r) { r.sessionCounter = number; });
  auto session = std::make_shared<CSessionData>(newSessionUuid(), number);
  const std::int64_t now = clock().now();
  std::lock_guard guard(session->lock_);
  session->m_nSessStatus = kSessionWorking;
  session->startTime_ = now;
  session->interval_ = lastCloseTime_ != 0 ? now - lastCloseTime_ : 0;
  session->userId_ = userId_;
  return session;
}

std::shared_ptr<CSessionData> CSessionMg::current() {
  std::lock_guard guard(lock_);
  return current_;
}

void CSessionMg::recordEvent(TallyEvent event) {
  std::shared_ptr<CSessionData> session;
  {
    std::lock_guard guard(lock_);
    if (!current_) {
      current_ = createSession();
      current_->startTimeOut(*this);
    }
    session = current_;
  }
  session->addEvent(std::move(event));
}

void CSessionMg::FocusChanged(bool foreground) {
  std::lock_guard guard(lock_);
  if (current_ && !foreground) {
    current_->startTimeOut(*this);
  } else if (current_ && foreground) {
    current_->Signal();
    const int status = current_->status();
    if ((status == kSessionClosed || status == kSessionSent) && !standby_) {
      standby_ = createSession();
      log().write(L"Warning: CSessionMg::FocusChanged() signal failed, CurSession status %d, Sess num %d . create "
                  L"backstatus %p, Sess num %d!",
                  status, current_->number(), static_cast<void*>(standby_.get()), standby_->number());
    }
  } else if (foreground) {
    current_ = createSession();
  }
}

void CSessionMg::SessionClosed(const std::shared_ptr<CSessionData>& session, std::int64_t closeTime) {
  {
    std::lock_guard guard(lock_);
    if (session != current_) {
      log().write(L"Error: CSessionMg::SessionClosed() ,but not equal, CurrSession %p!!",
                  static_cast<void*>(current_.get()));
      return;
    }
    lastCloseTime_ = closeTime;
    if (settings_.store)
      settings_.store->updateState(
          [closeTime](StateRecord& r) { r.lastCloseTime = static_cast<std::uint32_t>(closeTime); });
    {
      std::lock_guard sessionGuard(session->lock_);
      session->userId_ = userId_;
    }
    closed_.push_back(session);
    current_ = std::move(standby_);
    standby_.reset();
  }
  if (settings_.signalSend) settings_.signalSend();
}

void CSessionMg::closeCurrent() {
  const auto session = current();
  if (session && session->closeNow(clock().now())) SessionClosed(session, session->closeTime());
}

int CSessionMg::GetNeedSendSessions(std::string& text, const std::function<std::string()>& header) {
  std::lock_guard guard(lock_);
  int taken = 0;
  for (auto it = closed_.begin(); it != closed_.end();) {
    const auto& session = *it;
    const int status = session->status();
    if (status != kSessionClosed) {
      log().write(L"Error: CSessionMg::GetNeedSendSessions() session number %d no need to send , status = %d!!",
                  session->number(), status);
      ++it;
      continue;
    }
    text += header();
    text += session->records();
    session->setStatus(kSessionSent);
    it = closed_.erase(it);
    ++taken;
  }
  return taken;
}

}  // namespace kx::telemetry
