// Why a request or a download did not succeed: one value for the retry decision and for the
// reason a front end shows. The program's own (Chinese) messages stay as they are; this is the
// English detail a terminal prints after them.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace ombrik {

enum class FailureCause {
  None,
  Cancelled,              // the user stopped the run
  SchemeRefused,          // an address of a scheme other than http and https
  BadAddress,             // no host, or an address that cannot be requested as it stands
  HostNotFound,           // the name does not resolve
  Refused,                // nobody listens there
  Timeout,                // no connection, or no data, within the time-out
  Reset,                  // the connection broke or closed mid-answer
  Tls,                    // the TLS handshake failed
  CertificateNotTrusted,  // the server's certificate does not verify
  NotFound,               // HTTP 404 or 410
  HttpError,              // any other error status
  ShortBody,              // fewer bytes than the server announced
  TooLarge,               // an answer over the size the program keeps
  DiskFull,
  NameTooLong,
  Permission,
  NoSuchFolder,
  NoFreeName,         // number mode: name(1) to name(99) are all taken
  InUse,              // another download writes the same file
  RetryAfterTooLong,  // the server asked us to come back later than we wait
  Other,
};

struct Failure {
  FailureCause cause = FailureCause::None;
  int httpStatus = 0;  // the final answer's status, when one arrived
  // The host name for HostNotFound, the scheme for SchemeRefused, a system or library message
  // for Other; empty when the cause says it all.
  std::string detail;
  // What the server's Retry-After asked for.
  std::optional<std::chrono::seconds> retryAfter;

  bool failed() const { return cause != FailureCause::None; }
};

inline Failure MakeFailure(FailureCause cause, std::string detail = {}) {
  Failure f;
  f.cause = cause;
  f.detail = std::move(detail);
  return f;
}

// What can heal by trying again: time-outs, broken connections, short bodies, and the statuses
// 408, 425, 429, 500, 502, 503 and 504.
bool IsTransient(const Failure& failure);

// "HTTP 404", "connection refused", "could not resolve host m.example", ...
std::string Describe(const Failure& failure);

// The failure an HTTP status stands for; None below 400.
Failure FailureFromStatus(int status);
// The failure a system error number stands for, when writing a file.
Failure FailureFromErrno(int error);

// A Retry-After value: seconds, or an HTTP date (counted from `now`). Nullopt when unreadable.
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value, std::chrono::system_clock::time_point now);

// How a failed transfer is tried again.
struct RetryPolicy {
  int retries = 0;                             // further tries after the first
  std::chrono::milliseconds firstPause{1000};  // doubled for every further try
  std::chrono::milliseconds longestPause{30'000};
  std::chrono::seconds longestRetryAfter{300};  // a server asking for more fails the transfer
};

// The pause before the next try after `failedTries` failed ones (1 after the first), or nullopt
// when the failure is not tried again. A Retry-After longer than the policy allows turns the
// failure into RetryAfterTooLong.
std::optional<std::chrono::milliseconds> RetryPause(const RetryPolicy& policy, int failedTries, Failure& failure);

}  // namespace ombrik
