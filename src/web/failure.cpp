#include "web/failure.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

namespace ombrik {

bool IsTransient(const Failure& f) {
  switch (f.cause) {
    case FailureCause::Timeout:
    case FailureCause::Reset:
    case FailureCause::ShortBody:
      return true;
    case FailureCause::HttpError:
      switch (f.httpStatus) {
        case 408:
        case 425:
        case 429:
        case 500:
        case 502:
        case 503:
        case 504:
          return true;
        default:
          return false;
      }
    default:
      return false;
  }
}

std::string Describe(const Failure& f) {
  const auto http = [&f] { return "HTTP " + std::to_string(f.httpStatus); };
  switch (f.cause) {
    case FailureCause::None:
      return "ok";
    case FailureCause::Cancelled:
      return "stopped";
    case FailureCause::SchemeRefused:
      return "not an http or https address" + (f.detail.empty() ? "" : ": " + f.detail);
    case FailureCause::BadAddress:
      return "not a usable address" + (f.detail.empty() ? "" : ": " + f.detail);
    case FailureCause::HostNotFound:
      return "could not resolve host" + (f.detail.empty() ? "" : " " + f.detail);
    case FailureCause::Refused:
      return "connection refused";
    case FailureCause::Timeout:
      return "timed out";
    case FailureCause::Reset:
      return "connection lost";
    case FailureCause::Tls:
      return "TLS handshake failed";
    case FailureCause::CertificateNotTrusted:
      return "certificate not trusted";
    case FailureCause::NotFound:
    case FailureCause::HttpError:
      return http();
    case FailureCause::ShortBody:
      return "transfer ended early";
    case FailureCause::TooLarge:
      return "answer too large";
    case FailureCause::DiskFull:
      return "disk full";
    case FailureCause::NameTooLong:
      return "file name too long";
    case FailureCause::Permission:
      return "permission denied";
    case FailureCause::NoSuchFolder:
      return "no such folder";
    case FailureCause::NoFreeName:
      return "no free numbered name (1 to 99 are taken)";
    case FailureCause::InUse:
      return "another download is writing this file";
    case FailureCause::RetryAfterTooLong:
      return http() + ", asked to retry after " + std::to_string(f.retryAfter ? f.retryAfter->count() : 0) + " s";
    case FailureCause::Other:
      return f.detail.empty() ? "failed" : f.detail;
  }
  return "failed";
}

Failure FailureFromStatus(int status) {
  if (status < 400) return {};
  Failure f;
  f.cause = status == 404 || status == 410 ? FailureCause::NotFound : FailureCause::HttpError;
  f.httpStatus = status;
  return f;
}

Failure FailureFromErrno(int error) {
  Failure f;
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      f.cause = FailureCause::DiskFull;
      break;
    case ENAMETOOLONG:
      f.cause = FailureCause::NameTooLong;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      f.cause = FailureCause::Permission;
      break;
    case ENOENT:
    case ENOTDIR:
      f.cause = FailureCause::NoSuchFolder;
      break;
    default:
      f.cause = FailureCause::Other;
      f.detail = std::strerror(error);
  }
  return f;
}

std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value, std::chrono::system_clock::time_point now) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  if (value.empty()) return std::nullopt;
  if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    // Anything past a day is "too long" however it is written; no need to read it exactly.
    if (value.size() > 6) return std::chrono::seconds{999'999};
    return std::chrono::seconds{std::stol(std::string{value})};
  }
  const time_t when = curl_getdate(std::string{value}.c_str(), nullptr);
  if (when == -1) return std::nullopt;
  const auto wait = std::chrono::system_clock::from_time_t(when) - now;
  return std::max(std::chrono::seconds{0}, std::chrono::ceil<std::chrono::seconds>(wait));
}

std::optional<std::chrono::milliseconds> RetryPause(const RetryPolicy& policy, int failedTries, Failure& failure) {
  if (!IsTransient(failure)) return std::nullopt;
  if (failure.retryAfter && *failure.retryAfter > policy.longestRetryAfter) {
    failure.cause = FailureCause::RetryAfterTooLong;
    return std::nullopt;
  }
  if (failedTries > policy.retries) return std::nullopt;
  if (failure.retryAfter) return std::chrono::milliseconds{*failure.retryAfter};
  // 1, 2, 4 ... times the first pause, each drawn from 75 % to 125 % of that so that many
  // clients failing together do not come back together.
  const int doublings = std::min(failedTries - 1, 20);
  const double nominal = std::min<double>(static_cast<double>(policy.firstPause.count()) * (1 << doublings),
                                          static_cast<double>(policy.longestPause.count()));
  thread_local std::minstd_rand random{std::random_device{}()};
  const double jittered = nominal * std::uniform_real_distribution<double>(0.75, 1.25)(random);
  return std::chrono::milliseconds{
      static_cast<long long>(std::min(jittered, static_cast<double>(policy.longestPause.count())))};
}

}  // namespace ombrik
