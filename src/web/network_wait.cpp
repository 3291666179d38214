#include "web/network_wait.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace ombrik {
namespace {

struct NetworkSettings {
  std::mutex mutex;
  NetworkTimeouts timeouts;
  std::function<void()> hook;
};

NetworkSettings& Settings() {
  static NetworkSettings settings;
  return settings;
}

// Lock-free, so that a signal handler may set it.
std::atomic<bool> cancelRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

}  // namespace

void SetNetworkTimeouts(const NetworkTimeouts& timeouts) {
  std::lock_guard lock(Settings().mutex);
  Settings().timeouts = timeouts;
}

NetworkTimeouts GetNetworkTimeouts() {
  std::lock_guard lock(Settings().mutex);
  return Settings().timeouts;
}

void SetNetworkWaitHook(std::function<void()> hook) {
  std::lock_guard lock(Settings().mutex);
  Settings().hook = std::move(hook);
}

void CallNetworkWaitHook() {
  std::function<void()> hook;
  {
    std::lock_guard lock(Settings().mutex);
    hook = Settings().hook;
  }
  // Called outside the lock: the hook may read the settings itself.
  if (hook) hook();
}

bool PauseWithHook(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  for (;;) {
    if (NetworkCancelRequested()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return true;
    CallNetworkWaitHook();
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(50)));
  }
}

void RequestNetworkCancel() { cancelRequested.store(true); }
bool NetworkCancelRequested() { return cancelRequested.load(); }
void ResetNetworkCancel() { cancelRequested.store(false); }

}  // namespace ombrik
