// Fetching URLs into files, safely: each file is fetched into "<target>.part" beside the target,
// which replaces the target only after a complete, verified, flushed transfer. A transfer that
// fails or is interrupted leaves its bytes in the part file, and the next fetch of the same
// target continues it with a range request, provided the server's validator (ETag, else
// Last-Modified) still matches the one recorded when the part was started; anything else
// starts the file over from byte 0, so two versions are never spliced together.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "catalogue/window_ops.h"
#include "text/text.h"
#include "web/failure.h"
#include "web/network_settings.h"

namespace ombrik {

enum class ExistingFileMode : int {
  ReplaceExisting = 0,  // replace the existing file (only once the new one is complete)
  NumberedName = 1,     // fetch to the first free name "a(1).m4a" .. "a(99).m4a"
  KeepExisting = 2,     // fetch nothing and report success
};

// The suffix of a file being fetched, and the longest file name the file systems take (UTF-8
// bytes); a target's name leaves room for the suffix.
inline constexpr const char* kPartSuffix = ".part";
inline constexpr std::size_t kMaxFileNameBytes = 255;

// Bytes received so far and the expected total (0 while unknown).
using DownloadProgress = std::function<void(std::int64_t received, std::int64_t total)>;

struct FetchSettings {
  int jobs = 1;        // transfers at once
  RetryPolicy retry;   // for transient failures
  bool resume = true;  // continue a part file an earlier try left; false starts from zero
  NetworkSettings network;
};

struct FetchJob {
  Text url;   // a URL without "://" gets "http://" in front; only http and https are fetched
  Text path;  // the target (code page 936)
  ExistingFileMode mode = ExistingFileMode::ReplaceExisting;
};

// What a fetch of several files asks and tells its caller, always from the calling thread.
// Jobs are numbered from 0 in the order NextJob hands them out.
class FetchEvents {
 public:
  virtual ~FetchEvents() = default;
  // The next file, or nullopt when there is none. Asked whenever a transfer slot is free, after
  // the previous job's Finished when there is one slot; never after a cancel.
  virtual std::optional<FetchJob> NextJob() = 0;
  virtual void Started(int /*job*/, const Text& /*target*/) {}
  virtual void Progress(int /*job*/, std::int64_t /*received*/, std::int64_t /*total*/) {}
  virtual void Waiting(int /*job*/, int /*failedTries*/, std::chrono::milliseconds /*pause*/, const Failure& /*why*/) {}
  virtual void Finished(int job, const TrackReport& report) = 0;
};

// Fetches every job NextJob gives, up to settings.jobs at once on one connection cache,
// retrying transient failures by the policy. Returns when every job has finished, or at once
// after a cancel (the running jobs finish as cancelled, their part files kept).
void FetchFiles(FetchEvents& events, const FetchSettings& settings);

// One file. Outcome Fetched, Kept (KeepExisting and the file exists) or Failed.
[[nodiscard]] TrackReport FetchFile(const Text& url, const Text& path, ExistingFileMode mode,
                                    const FetchSettings& settings = {}, const DownloadProgress& progress = {});

// True when the file was written or, with KeepExisting, exists.
[[nodiscard]] bool DownloadFile(const Text& url, const Text& path, ExistingFileMode mode,
                                const DownloadProgress& progress = {});

// The last path component's extension, dot included; empty when it has none.
Text FileExtensionOf(const Text& path);
// The text without its last n characters, counted in UTF-16 code units.
Text DropLastCharacters(const Text& text, int n);
// Whether a file, directory or anything else exists under the path.
bool PathExists(const Text& path);
// Bytes of the path's last component in UTF-8, as the file system counts them.
std::size_t FileNameBytes(const Text& path);

}  // namespace ombrik
