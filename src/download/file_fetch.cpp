#include "download/file_fetch.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "text/codepage.h"
#include "text/text_ops.h"
#include "web/network_wait.h"
#include "web/transfer.h"

namespace ombrik {
namespace {

constexpr long kReceiveBufferBytes = 256 * 1024;
// How much of a file is written before the disk is asked to start writing it out.
constexpr std::int64_t kWritebackBytes = 8 << 20;
// Where a part file keeps what it needs to be continued: the URL and the server's validator.
constexpr const char* kResumeAttribute = "user.ombrik.resume";

using Clock = std::chrono::steady_clock;

std::string FileSystemPath(const Text& path) { return TextToUtf8(path); }

Text SchemeOf(const Text& url) {
  const int at = FindText(url, "://");
  return at > 0 ? TextLeft(url, at - 1) : Text();
}

bool IsHttpUrl(const Text& url) {
  const Text lower = TextToLower(TextLeft(url, 8));
  return TextStartsWith(lower, "http://") || TextStartsWith(lower, "https://");
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// An existing target that the replace mode may not replace: a directory or a read-only file.
Failure ReplaceRefusal(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return {};
  if (S_ISDIR(st.st_mode)) return MakeFailure(FailureCause::Other, "a folder of that name is in the way");
  if (!S_ISLNK(st.st_mode) && (st.st_mode & 0222) == 0) return MakeFailure(FailureCause::Permission);
  return {};
}

// The file a job writes, decided before anything is fetched.
struct Target {
  enum Action { Fetch, Keep, Fail } action = Fetch;
  Text path;
  Failure failure;
};

Target Fits(Text path) {
  if (FileNameBytes(path) + std::char_traits<char>::length(kPartSuffix) > kMaxFileNameBytes) {
    return {Target::Fail, std::move(path), MakeFailure(FailureCause::NameTooLong)};
  }
  return {Target::Fetch, std::move(path), {}};
}

Target ChooseTarget(const Text& path, ExistingFileMode mode) {
  if (!PathExists(path)) return Fits(path);
  switch (mode) {
    case ExistingFileMode::ReplaceExisting:
      if (Failure refusal = ReplaceRefusal(FileSystemPath(path)); refusal.failed()) {
        return {Target::Fail, path, refusal};
      }
      return Fits(path);
    case ExistingFileMode::NumberedName: {
      const Text ext = FileExtensionOf(path);
      const Text base = DropLastCharacters(path, TextLength(ext));
      for (int k = 1; k <= 99; ++k) {
        Text candidate = ConcatText(base, "(", IntToText(k), ")", ext);
        if (!PathExists(candidate)) return Fits(std::move(candidate));
      }
      // All 99 taken: nothing is ever overwritten in this mode.
      return {Target::Fail, path, MakeFailure(FailureCause::NoFreeName)};
    }
    default:
      return {Target::Keep, path, {}};
  }
}

// "<target>.part", locked against a second download of the same file (in this process or
// another), with the resume key in an extended attribute. A file system without extended
// attributes simply never resumes.
class PartFile {
 public:
  PartFile() = default;
  ~PartFile() { Close(true); }
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  Failure Open(const std::string& target) {
    target_ = target;
    path_ = target + kPartSuffix;
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return FailureFromErrno(errno);
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd_);
      fd_ = -1;
      return MakeFailure(FailureCause::InUse);
    }
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      Close(true);
      return MakeFailure(FailureCause::Other, "the part file is not a regular file");
    }
    size_ = startedWriteback_ = st.st_size;
    char key[4096];
    const ssize_t n = ::fgetxattr(fd_, kResumeAttribute, key, sizeof key);
    if (n > 0) key_.assign(key, static_cast<std::size_t>(n));
    if (::lseek(fd_, 0, SEEK_END) < 0) return FailureFromErrno(errno);
    return {};
  }

  std::int64_t size() const { return size_; }
  const std::string& key() const { return key_; }

  // Back to an empty file with no key: the start of a new version.
  Failure Restart() {
    ::fremovexattr(fd_, kResumeAttribute);
    key_.clear();
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) return FailureFromErrno(errno);
    size_ = startedWriteback_ = 0;
    return {};
  }

  void SetKey(const std::string& key) {
    key_ = key;
    if (key.empty()) {
      ::fremovexattr(fd_, kResumeAttribute);
    } else if (::fsetxattr(fd_, kResumeAttribute, key.data(), key.size(), 0) != 0) {
      key_.clear();  // cannot be recorded: the part cannot be continued later
    }
  }

  Failure Write(const char* data, std::size_t n) {
    while (n > 0) {
      const ssize_t w = ::write(fd_, data, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return FailureFromErrno(w < 0 ? errno : ENOSPC);
      data += w;
      n -= static_cast<std::size_t>(w);
      size_ += w;
    }
    // The disk starts writing while the rest arrives, so that the flush before the rename
    // waits for the last few megabytes only, not the whole file.
    if (size_ - startedWriteback_ >= kWritebackBytes) {
      ::sync_file_range(fd_, startedWriteback_, size_ - startedWriteback_, SYNC_FILE_RANGE_WRITE);
      startedWriteback_ = size_;
    }
    return {};
  }

  // Flushes the file and renames it over the target, so that after a crash there is either
  // the old target or the whole new one. The rename itself is made lasting by flushing the
  // folder, once per run (FetchFiles). The resume key stays on the file: removing it costs a
  // metadata write per track, and it only names where the file came from.
  Failure Commit() {
    if (::fsync(fd_) != 0) return FailureFromErrno(errno);
    if (::rename(path_.c_str(), target_.c_str()) != 0) return FailureFromErrno(errno);
    ::close(fd_);
    fd_ = -1;
    return {};
  }

  // Keeps the part file only when it can be continued: it holds bytes and a resume key.
  void Close(bool keepForResume) {
    if (fd_ < 0) return;
    if (!keepForResume || size_ == 0 || key_.empty()) ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
  }

 private:
  std::string target_;
  std::string path_;
  int fd_ = -1;
  std::int64_t size_ = 0;
  std::int64_t startedWriteback_ = 0;
  std::string key_;
};

// The headers of the answer being received; reset by every status line (redirects, 1xx).
struct AnswerHeaders {
  long status = 0;
  std::string etag, lastModified, contentRange, retryAfter;
  std::int64_t contentLength = -1;

  void Take(std::string_view line) {
    if (line.starts_with("HTTP/")) {
      *this = {};
      const std::size_t space = line.find(' ');
      if (space != std::string_view::npos) {
        std::from_chars(line.data() + space + 1, line.data() + line.size(), status);
      }
      return;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    const std::string_view name = line.substr(0, colon);
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) {
      value.remove_suffix(1);
    }
    const auto is = [name](const char* n) {
      return name.size() == std::strlen(n) && strncasecmp(name.data(), n, name.size()) == 0;
    };
    if (is("ETag"))
      etag = value;
    else if (is("Last-Modified"))
      lastModified = value;
    else if (is("Content-Range"))
      contentRange = value;
    else if (is("Retry-After"))
      retryAfter = value;
    else if (is("Content-Length"))
      std::from_chars(value.data(), value.data() + value.size(), contentLength);
  }

  // ETag, else Last-Modified; empty when the server gave neither.
  std::string Validator() const { return etag.empty() ? lastModified : etag; }
};

// "bytes FIRST-LAST/TOTAL" (TOTAL may be "*", then -1).
struct ContentRange {
  std::int64_t first = -1, last = -1, total = -1;
};
std::optional<ContentRange> ParseContentRange(std::string_view v) {
  if (!v.starts_with("bytes ")) return std::nullopt;
  v.remove_prefix(6);
  ContentRange r;
  const char* end = v.data() + v.size();
  auto [p, e] = std::from_chars(v.data(), end, r.first);
  if (e != std::errc{} || p == end || *p != '-') return std::nullopt;
  auto [q, e2] = std::from_chars(p + 1, end, r.last);
  if (e2 != std::errc{} || q == end || *q != '/' || r.last < r.first) return std::nullopt;
  if (std::string_view(q + 1, end - q - 1) != "*") {
    auto [t, e3] = std::from_chars(q + 1, end, r.total);
    if (e3 != std::errc{} || t != end || r.total <= r.last) return std::nullopt;
  }
  return r;
}

// One job from NextJob to Finished: the part file and the tries.
struct Job {
  int id = 0;
  FetchJob job;
  Text target;
  std::string url;  // effective, escaped for the request line
  PartFile part;
  TrackReport report;
  int failedTries = 0;
  std::optional<Clock::time_point> retryAt;  // waiting for the next try

  // The try in flight.
  std::unique_ptr<Transfer> transfer;
  curl_slist* requestHeaders = nullptr;
  AnswerHeaders answer;
  std::int64_t offset = 0;     // bytes of the part file this try continues from
  std::int64_t expected = -1;  // the file's announced length, -1 while unknown
  bool bodyStarted = false;
  int refusedStatus = 0;   // an answer we did not write (error status or unusable 206)
  bool startOver = false;  // the part cannot be continued: fetch again from byte 0
  Failure writeFailure;
  FetchEvents* events = nullptr;

  ~Job() { EndTry(); }

  void EndTry() {
    transfer.reset();
    curl_slist_free_all(requestHeaders);
    requestHeaders = nullptr;
  }

  std::string ResumeKey(const std::string& validator) const { return validator.empty() ? "" : url + "\n" + validator; }

  // Decides, at the first byte of the final answer's body (or at its end when it has none),
  // what the answer means for the part file. False refuses the body.
  bool BeginBody() {
    bodyStarted = true;
    const long status = answer.status;
    if (status >= 300 || (status == 206 && offset == 0)) {
      refusedStatus = static_cast<int>(status);
      if (status == 416 && offset > 0) startOver = true;
      return false;
    }
    if (offset > 0 && status == 206) {
      const auto range = ParseContentRange(answer.contentRange);
      const std::string validator = answer.Validator();
      if (!range || range->first != offset || (!validator.empty() && ResumeKey(validator) != part.key())) {
        startOver = true;
        refusedStatus = 206;
        return false;
      }
      expected = range->total;
      report.resumedFrom = offset;
      return true;
    }
    // A whole answer: a new version, or the server ignored the range. From byte 0.
    if (offset > 0) {
      if (Failure f = part.Restart(); f.failed()) {
        writeFailure = f;
        return false;
      }
      offset = 0;
    }
    part.SetKey(ResumeKey(answer.Validator()));
    expected = answer.contentLength;
    return true;
  }

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    static_cast<Job*>(self)->answer.Take(std::string_view(data, size * count));
    return size * count;
  }

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto* job = static_cast<Job*>(self);
    if (!job->bodyStarted && !job->BeginBody()) return 0;
    if (Failure f = job->part.Write(data, size * count); f.failed()) {
      job->writeFailure = f;
      return 0;  // ends the transfer with a write error
    }
    return size * count;
  }

  static int OnProgress(void* self, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t) {
    auto* job = static_cast<Job*>(self);
    if (job->bodyStarted && job->refusedStatus == 0) {
      job->events->Progress(job->id, job->offset + received, total > 0 ? job->offset + total : 0);
    }
    return 0;
  }

  // A new transfer continuing the part file where it can.
  bool StartTry(TransferLoop& loop, const FetchSettings& settings) {
    const bool resume = settings.resume;
    EndTry();
    answer = {};
    bodyStarted = false;
    refusedStatus = 0;
    startOver = false;
    writeFailure = {};
    expected = -1;
    const std::size_t newline = part.key().find('\n');
    const bool continuable =
        resume && part.size() > 0 && newline != std::string::npos && part.key().compare(0, newline, url) == 0;
    if (!continuable && part.size() > 0) {
      if (Failure f = part.Restart(); f.failed()) {
        report.failure = f;
        return false;
      }
    }
    offset = continuable ? part.size() : 0;
    transfer = std::make_unique<Transfer>(settings.network);
    CURL* easy = transfer->handle();
    if (easy == nullptr) {
      report.failure = MakeFailure(FailureCause::Other, "cannot set up a transfer");
      return false;
    }
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Job::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Job::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Job::OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    // Larger reads than the 16 KiB default: a fraction of the system calls per file.
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    if (offset > 0) {
      // The range only if the file is still the version the part holds; otherwise the server
      // sends the whole new one.
      const std::string from = std::to_string(offset) + "-";
      curl_easy_setopt(easy, CURLOPT_RANGE, from.c_str());
      requestHeaders = curl_slist_append(nullptr, ("If-Range: " + part.key().substr(newline + 1)).c_str());
      curl_easy_setopt(easy, CURLOPT_HTTPHEADER, requestHeaders);
    }
    ++report.tries;
    if (!loop.Add(*transfer)) {
      report.failure = MakeFailure(FailureCause::Other, "cannot start a transfer");
      return false;
    }
    return true;
  }

  enum class Next { Done, Failed, StartOver };

  // What the ended try means: the file is complete, the job failed, or it goes on.
  Next EndOfTry(CURLcode result) {
    // An answer without a body is judged at its end.
    if (!bodyStarted && result == CURLE_OK) BeginBody();
    if (startOver) return Next::StartOver;
    Failure failure;
    if (writeFailure.failed()) {
      failure = writeFailure;
    } else if (refusedStatus >= 400 || (refusedStatus >= 300 && refusedStatus != 206)) {
      failure = FailureFromStatus(refusedStatus);
      if (!failure.failed()) failure = MakeFailure(FailureCause::Other, "HTTP " + std::to_string(refusedStatus));
      if (!answer.retryAfter.empty()) {
        failure.retryAfter = ParseRetryAfter(answer.retryAfter, std::chrono::system_clock::now());
      }
    } else if (refusedStatus == 206) {
      failure = MakeFailure(FailureCause::Other, "a partial answer that was not asked for");
    } else {
      failure = transfer->FailureOf(result);
      if (!failure.failed() && expected >= 0 && part.size() != expected) {
        failure = MakeFailure(FailureCause::ShortBody);
      }
    }
    if (!failure.failed()) return Next::Done;
    failure.httpStatus = failure.httpStatus ? failure.httpStatus : static_cast<int>(answer.status);
    report.failure = failure;
    return Next::Failed;
  }
};

// One run of FetchFiles.
class Runner {
 public:
  Runner(FetchEvents& events, const FetchSettings& settings) : events_(events), settings_(settings) {}

  // The folders that received files, flushed so that their renames last.
  ~Runner() {
    for (const std::string& folder : folders_) {
      if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
      }
    }
  }

  void Run() {
    bool more = true;
    for (;;) {
      while (more && static_cast<int>(jobs_.size()) < std::max(1, settings_.jobs) && !NetworkCancelRequested()) {
        std::optional<FetchJob> next = events_.NextJob();
        if (!next) {
          more = false;
          break;
        }
        Begin(nextId_++, std::move(*next));
      }
      if (NetworkCancelRequested()) {
        while (!jobs_.empty()) {
          jobs_.front()->report.failure = MakeFailure(FailureCause::Cancelled);
          Finish(*jobs_.front());
        }
        return;
      }
      if (jobs_.empty()) return;

      std::optional<Clock::time_point> wakeUp;
      for (const auto& job : jobs_) {
        if (job->retryAt && (!wakeUp || *job->retryAt < *wakeUp)) wakeUp = job->retryAt;
      }
      for (const TransferLoop::Done& done : loop_.Run(wakeUp)) {
        if (Job* job = JobOf(done.transfer)) Ended(*job, done.result);
      }
      const auto now = Clock::now();
      for (std::size_t i = 0; i < jobs_.size();) {
        Job& job = *jobs_[i];
        ++i;
        if (job.retryAt && *job.retryAt <= now && !NetworkCancelRequested()) {
          job.retryAt.reset();
          if (!job.StartTry(loop_, settings_)) {
            Finish(job);
            --i;
          }
        }
      }
    }
  }

 private:
  Job* JobOf(const Transfer* transfer) {
    for (const auto& job : jobs_) {
      if (job->transfer.get() == transfer) return job.get();
    }
    return nullptr;
  }

  void Begin(int id, FetchJob fetch) {
    auto job = std::make_unique<Job>();
    job->id = id;
    job->events = &events_;
    job->job = std::move(fetch);
    const Text effectiveUrl = FindText(job->job.url, "://") == -1 ? ConcatText("http://", job->job.url) : job->job.url;
    const Target target = ChooseTarget(job->job.path, job->job.mode);
    job->report.path = target.path;
    if (target.action == Target::Keep) {
      job->report.outcome = TrackOutcome::Kept;
      struct stat st;
      if (::stat(FileSystemPath(target.path).c_str(), &st) == 0) job->report.bytes = st.st_size;
      events_.Finished(id, job->report);
      return;
    }
    if (target.action == Target::Fail) {
      job->report.failure = target.failure;
      events_.Finished(id, job->report);
      return;
    }
    // Only the web's own schemes: a play address must never make us read a local file.
    if (!IsHttpUrl(effectiveUrl)) {
      job->report.failure = MakeFailure(FailureCause::SchemeRefused, TextToUtf8(SchemeOf(effectiveUrl)));
      events_.Finished(id, job->report);
      return;
    }
    job->target = target.path;
    job->url = EscapeForRequestLine(TextToUtf8(effectiveUrl));
    if (Failure f = job->part.Open(FileSystemPath(target.path)); f.failed()) {
      job->report.failure = f;
      events_.Finished(id, job->report);
      return;
    }
    events_.Started(id, target.path);
    jobs_.push_back(std::move(job));
    if (!jobs_.back()->StartTry(loop_, settings_)) Finish(*jobs_.back());
  }

  void Ended(Job& job, CURLcode result) {
    switch (job.EndOfTry(result)) {
      case Job::Next::Done:
        job.EndTry();
        if (Failure f = job.part.Commit(); f.failed()) {
          job.report.failure = f;
        } else {
          folders_.insert(FolderOf(FileSystemPath(job.target)));
          job.report.outcome = TrackOutcome::Fetched;
          job.report.bytes = job.part.size();
          job.report.failure = {};
        }
        Finish(job);
        return;
      case Job::Next::StartOver:
        // Not a failure of the server: the part was of another version. Once more from zero.
        if (Failure f = job.part.Restart(); f.failed()) {
          job.report.failure = f;
          Finish(job);
        } else if (!job.StartTry(loop_, settings_)) {
          Finish(job);
        }
        return;
      case Job::Next::Failed:
        break;
    }
    job.EndTry();
    if (job.report.failure.cause == FailureCause::Cancelled) {
      Finish(job);
      return;
    }
    const auto pause = RetryPause(settings_.retry, ++job.failedTries, job.report.failure);
    if (!pause) {
      Finish(job);
      return;
    }
    events_.Waiting(job.id, job.failedTries, *pause, job.report.failure);
    job.retryAt = Clock::now() + *pause;
  }

  // Reports the job and forgets it; a failed job keeps a part file that can be continued.
  void Finish(Job& job) {
    job.EndTry();
    job.part.Close(/*keepForResume=*/true);
    const auto it = std::find_if(jobs_.begin(), jobs_.end(), [&job](const auto& j) { return j.get() == &job; });
    std::unique_ptr<Job> owned;
    if (it != jobs_.end()) {
      owned = std::move(*it);
      jobs_.erase(it);
    }
    events_.Finished(job.id, job.report);
  }

  FetchEvents& events_;
  const FetchSettings& settings_;
  // Before the loop, so that the loop lets go of the transfers before they are freed.
  std::vector<std::unique_ptr<Job>> jobs_;
  TransferLoop loop_;
  std::set<std::string> folders_;
  int nextId_ = 0;
};

}  // namespace

void FetchFiles(FetchEvents& events, const FetchSettings& settings) { Runner(events, settings).Run(); }

TrackReport FetchFile(const Text& url, const Text& path, ExistingFileMode mode, const FetchSettings& settings,
                      const DownloadProgress& progress) {
  struct One : FetchEvents {
    std::optional<FetchJob> job;
    const DownloadProgress* progress;
    TrackReport report;
    std::optional<FetchJob> NextJob() override { return std::exchange(job, std::nullopt); }
    void Progress(int, std::int64_t received, std::int64_t total) override {
      if (*progress) (*progress)(received, total);
    }
    void Finished(int, const TrackReport& r) override { report = r; }
  } one;
  one.job = FetchJob{url, path, mode};
  one.progress = &progress;
  one.report.path = path;
  FetchSettings single = settings;
  single.jobs = 1;
  FetchFiles(one, single);
  return one.report;
}

bool DownloadFile(const Text& url, const Text& path, ExistingFileMode mode, const DownloadProgress& progress) {
  const TrackReport report = FetchFile(url, path, mode, {}, progress);
  return report.ok();
}

Text FileExtensionOf(const Text& path) {
  // '/' and '.' never occur as trail bytes, so a byte scan finds the same characters.
  const std::string_view p = path.view();
  const std::size_t slash = p.rfind('/');
  const std::size_t componentStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = p.rfind('.');
  if (dot == std::string_view::npos || dot < componentStart) return {};
  return Text(p.substr(dot));
}

Text DropLastCharacters(const Text& text, int n) {
  const Bytes wide = AnsiToUtf16(text, true);
  return Utf16ToAnsi(BytesLeft(wide, BytesLength(wide) - 2 * n));
}

bool PathExists(const Text& path) {
  struct stat st;
  return !path.empty() && ::lstat(FileSystemPath(path).c_str(), &st) == 0;
}

std::size_t FileNameBytes(const Text& path) {
  const std::string utf8 = FileSystemPath(path);
  const std::size_t slash = utf8.rfind('/');
  return slash == std::string::npos ? utf8.size() : utf8.size() - slash - 1;
}

}  // namespace ombrik
