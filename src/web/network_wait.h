// What every network transfer of the process shares: a hook that a front end uses to keep its
// window painting while a transfer waits, and the stop request of a terminal's Ctrl-C.
#pragma once

#include <chrono>
#include <functional>

namespace ombrik {

// Called at least every 100 ms while a request or download waits for the network; empty by
// default. It must not start another transfer.
void SetNetworkWaitHook(std::function<void()> hook);
void CallNetworkWaitHook();

// Waits for the duration, calling the network wait hook at least every 100 ms; ends early, with
// false, when a cancel is requested.
bool PauseWithHook(std::chrono::milliseconds duration);

// Asks the running transfer, and every later one until ResetNetworkCancel, to stop at once
// and fail (a terminal's Ctrl-C). Safe to call from a signal handler.
void RequestNetworkCancel();
bool NetworkCancelRequested();
void ResetNetworkCancel();

}  // namespace ombrik
