#include "download/file_fetch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "text/codepage.h"
#include "text/text_ops.h"
#include "web/transfer.h"

namespace ombrik {
namespace {

constexpr long kReceiveBufferBytes = 256 * 1024;

std::string FileSystemPath(const Text& path) { return TextToUtf8(path); }

bool IsHttpUrl(const Text& url) {
  const Text lower = TextToLower(TextLeft(url, 8));
  return TextStartsWith(lower, "http://") || TextStartsWith(lower, "https://");
}

// An existing target that the replace mode may not replace: Windows refuses to delete a
// directory or a read-only file, and so do we.
bool Replaceable(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return true;
  if (S_ISDIR(st.st_mode)) return false;
  return S_ISLNK(st.st_mode) || (st.st_mode & 0222) != 0;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A temporary file beside the target, removed again unless Commit() renamed it over the target.
class PartFile {
 public:
  explicit PartFile(const std::string& target) : target_(target) {
    std::string pattern = FolderOf(target) + "/.ombrik-XXXXXX.part";
    fd_ = ::mkstemps(pattern.data(), 5);
    if (fd_ < 0) return;
    path_ = pattern;
    // mkstemp makes the file private; a track is an ordinary file for the user's umask.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
  }
  ~PartFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  bool Write(const char* data, std::size_t n) {
    while (n > 0) {
      const ssize_t w = ::write(fd_, data, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      data += w;
      n -= static_cast<std::size_t>(w);
    }
    return true;
  }
  bool Commit() {
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!closed || ::rename(path_.c_str(), target_.c_str()) != 0) return false;
    path_.clear();
    return true;
  }

 private:
  std::string target_;
  std::string path_;
  int fd_ = -1;
};

struct Sink {
  PartFile* file;
  const DownloadProgress* progress;
  bool writeFailed = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* userdata) {
  auto* sink = static_cast<Sink*>(userdata);
  if (!sink->file->Write(data, size * count)) {
    sink->writeFailed = true;
    return 0;  // ends the transfer with a write error
  }
  return size * count;
}

int OnProgress(void* userdata, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t) {
  auto* sink = static_cast<Sink*>(userdata);
  if (*sink->progress) (*sink->progress)(received, total);
  return 0;
}

// Fetches into the part file; true only for a complete transfer with a success status.
bool Fetch(const Text& url, PartFile& file, const DownloadProgress& progress) {
  Transfer transfer;
  CURL* easy = transfer.handle();
  if (easy == nullptr) return false;
  Sink sink{&file, &progress};
  const std::string curlUrl = EscapeForRequestLine(TextToUtf8(url));
  curl_easy_setopt(easy, CURLOPT_URL, curlUrl.c_str());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
  // Larger reads than the 16 KiB default: a fraction of the system calls per file.
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  if (progress) {
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &sink);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  }
  // An error page is no track.
  curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
  // A body that ends short of its Content-Length is reported as CURLE_PARTIAL_FILE.
  if (transfer.Perform() != CURLE_OK || sink.writeFailed) return false;
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  return status < 400;
}

}  // namespace

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


bool DownloadFile(const Text& url, const Text& path, ExistingFileMode mode,
                  const DownloadProgress& progress) {
  const Text effectiveUrl = FindText(url, "://") == -1 ? ConcatText("http://", url) : url;
  Text target = path;
  if (PathExists(path)) {
    switch (mode) {
      case ExistingFileMode::ReplaceExisting:
        if (!Replaceable(FileSystemPath(path))) return false;
        break;
      case ExistingFileMode::NumberedName: {
        const Text ext = FileExtensionOf(path);
        const Text base = DropLastCharacters(path, TextLength(ext));
        for (int k = 1; k <= 99; ++k) {
          target = ConcatText(base, "(", IntToText(k), ")", ext);
          if (!PathExists(target)) break;
        }
        // All 99 taken: the 99th is replaced, as long as it may be.
        if (PathExists(target) && !Replaceable(FileSystemPath(target))) return false;
        break;
      }
      default:  // KeepExisting
        return true;
    }
  }
  // Only the web's own schemes: a play address must never make us read a local file.
  if (!IsHttpUrl(effectiveUrl)) return false;
  PartFile file(FileSystemPath(target));
  if (!file.ok()) return false;
  return Fetch(effectiveUrl, file, progress) && file.Commit();
}

}  // namespace ombrik
