#include "web/network_wait.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace ombrik {
namespace {

struct WaitHook {
  std::mutex mutex;
  std::function<void()> hook;
};

WaitHook& Settings() {
  static WaitHook settings;
  return settings;
}

// Lock-free, so that a signal handler may set it.
std::atomic<bool> cancelRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

}  // namespace

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
  // Called outside the lock: the hook may set another hook.
  if (hook) hook();
}

bool PauseWithHook(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  for (;;) {
    if (NetworkCancelRequested()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return true;
    CallNetworkWaitHook();
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(50)));
  }
}

void RequestNetworkCancel() { cancelRequested.store(true); }
bool NetworkCancelRequested() { return cancelRequested.load(); }
void ResetNetworkCancel() { cancelRequested.store(false); }

}  // namespace ombrik
