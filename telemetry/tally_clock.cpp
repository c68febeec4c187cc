#include "telemetry/tally_clock.h"

#include <thread>

namespace kx::telemetry {

void ManualEvent::set() {
  std::lock_guard guard(lock_);
  set_ = true;
  changed_.notify_all();
}

void ManualEvent::reset() {
  std::lock_guard guard(lock_);
  set_ = false;
}

bool ManualEvent::isSet() {
  std::lock_guard guard(lock_);
  return set_;
}

bool ManualEvent::waitFor(std::chrono::milliseconds timeout) {
  std::unique_lock guard(lock_);
  return changed_.wait_for(guard, timeout, [this] { return set_; });
}

std::int64_t SystemTallyClock::now() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

bool SystemTallyClock::wait(ManualEvent& event, std::chrono::milliseconds timeout) { return event.waitFor(timeout); }

void BoundedThread::start(std::function<void()> body) {
  auto done = std::make_shared<ManualEvent>();
  done_ = done;
  std::thread([done, body = std::move(body)] {
    body();
    done->set();
  }).detach();
}

bool BoundedThread::waitFor(std::chrono::milliseconds timeout) { return !done_ || done_->waitFor(timeout); }

bool BoundedThread::running() { return done_ && !done_->isSet(); }

}  // namespace kx::telemetry
