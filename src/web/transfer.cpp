#include "web/transfer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "web/headers.h"
#include "web/network_wait.h"

namespace ombrik {
namespace {

constexpr long kMaxRedirects = 30;
// The system's trusted certificates, one file each, as OpenSSL looks them up.
constexpr const char* kSystemCertificates = "/etc/ssl/certs";
constexpr int kPollMs = 100;
// The least a live connection moves on average: about 1 KiB a minute.
constexpr curl_off_t kMinBytesPerSecond = 16;

// The share handle behind every transfer, created with libcurl's global state on first use and
// released at exit.
class SharedCache {
 public:
  SharedCache() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    share_ = curl_share_init();
    if (!share_) return;
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &SharedCache::Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &SharedCache::Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    for (curl_lock_data d :
         {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_COOKIE, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION}) {
      curl_share_setopt(share_, CURLSHOPT_SHARE, d);
    }
  }
  ~SharedCache() {
    if (share_) curl_share_cleanup(share_);
    curl_global_cleanup();
  }
  CURLSH* share() const { return share_; }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<SharedCache*>(self)->mutexes_[Index(data)].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<SharedCache*>(self)->mutexes_[Index(data)].unlock();
  }
  static std::size_t Index(curl_lock_data data) {
    auto i = static_cast<std::size_t>(data);
    return i < CURL_LOCK_DATA_LAST ? i : 0;
  }

  CURLSH* share_ = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> mutexes_;
};

SharedCache& Shared() {
  static SharedCache cache;
  return cache;
}

// Everything that moved on the wire so far; any change counts as activity for the stall clock.
curl_off_t BytesMoved(CURL* easy) {
  curl_off_t down = 0, up = 0;
  long headerBytes = 0;
  curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &down);
  curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &up);
  curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &headerBytes);
  return down + up + headerBytes;
}

// One multi handle per thread, kept between transfers: making one costs a socket pair and
// several system calls, a noticeable share of a small file's fetch. It holds no connections
// itself (those live in the shared cache), so a transfer sees the same state either way.
// A loop borrows it when no other loop of the thread holds it.
struct ThreadMulti {
  ThreadMulti() : handle((Shared(), curl_multi_init())) {}
  ~ThreadMulti() {
    if (handle) curl_multi_cleanup(handle);
  }
  CURLM* handle;
  bool borrowed = false;
};
thread_local ThreadMulti threadMulti;

std::string HostOf(CURL* easy) {
  char* url = nullptr;
  curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url);
  std::string host;
  if (CURLU* parts = curl_url(); parts && url) {
    char* h = nullptr;
    if (curl_url_set(parts, CURLUPART_URL, url, 0) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_HOST, &h, 0) == CURLUE_OK) {
      host = h;
      curl_free(h);
    }
    curl_url_cleanup(parts);
  }
  return host;
}

}  // namespace

Transfer::Transfer(const NetworkSettings& settings) {
  CURLSH* share = Shared().share();
  stall_ = settings.stallTimeout;
  easy_ = curl_easy_init();
  if (!easy_) return;
  if (share) curl_easy_setopt(easy_, CURLOPT_SHARE, share);
  curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorText_);
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
  // Anyone on the path could hand us other pages and files: certificates are checked unless
  // the user said otherwise. Extra trust comes on top of the system's store.
  const long verify = settings.verifyCertificates ? 1L : 0L;
  curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, verify);
  curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
  curl_easy_setopt(easy_, CURLOPT_PROXY_SSL_VERIFYPEER, verify);
  curl_easy_setopt(easy_, CURLOPT_PROXY_SSL_VERIFYHOST, verify ? 2L : 0L);
  if (!settings.caFile.empty() || !settings.caPem.empty()) {
    curl_easy_setopt(easy_, CURLOPT_CAPATH, kSystemCertificates);
    if (!settings.caPem.empty()) {
      curl_blob blob{const_cast<char*>(settings.caPem.data()), settings.caPem.size(), CURL_BLOB_COPY};
      curl_easy_setopt(easy_, CURLOPT_CAINFO_BLOB, &blob);
    } else {
      curl_easy_setopt(easy_, CURLOPT_CAINFO, settings.caFile.c_str());
    }
  }
  // Direct unless a caller names a proxy, whatever the environment says; a named proxy is used
  // for every host, loopback included.
  curl_easy_setopt(easy_, CURLOPT_PROXY, "");
  curl_easy_setopt(easy_, CURLOPT_NOPROXY, "");
  curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  // Bytes are kept as the server sent them; no Accept-Encoding is ever offered.
  curl_easy_setopt(easy_, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(easy_, CURLOPT_USERAGENT, kDefaultUserAgent);
  curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connectTimeout.count()));
  curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &Transfer::OnConnected);
  curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this);
}

Transfer::~Transfer() {
  if (easy_) curl_easy_cleanup(easy_);
}

void Transfer::UseCookieStore() {
  // The shared jar alone does not switch the cookie engine on; an empty file name does.
  if (easy_) curl_easy_setopt(easy_, CURLOPT_COOKIEFILE, "");
}

int Transfer::OnConnected(void* self, char*, char*, int, int) {
  auto* transfer = static_cast<Transfer*>(self);
  transfer->connected_ = true;
  transfer->lastActivity_ = std::chrono::steady_clock::now();
  return CURL_PREREQFUNC_OK;
}

void Transfer::StartWatch() {
  connected_ = false;
  moved_ = 0;
  lastActivity_ = periodStart_ = std::chrono::steady_clock::now();
  movedAtPeriodStart_ = 0;
}

bool Transfer::Stalled(std::chrono::steady_clock::time_point now) {
  const curl_off_t movedNow = BytesMoved(easy_);
  if (movedNow != moved_) {
    moved_ = movedNow;
    lastActivity_ = now;
  } else if (connected_ && now - lastActivity_ >= stall_) {
    return true;
  }
  if (!connected_) {
    periodStart_ = now;
    movedAtPeriodStart_ = movedNow;
    return false;
  }
  if (now - periodStart_ >= stall_) {
    const curl_off_t minPerPeriod =
        std::max<curl_off_t>(1, kMinBytesPerSecond * static_cast<curl_off_t>(stall_.count()) / 1000);
    if (movedNow - movedAtPeriodStart_ < minPerPeriod) return true;
    periodStart_ = now;
    movedAtPeriodStart_ = movedNow;
  }
  return false;
}

CURLcode Transfer::Perform() {
  if (!easy_) return CURLE_FAILED_INIT;
  TransferLoop loop;
  if (!loop.Add(*this)) return CURLE_FAILED_INIT;
  for (;;) {
    for (const auto& done : loop.Run()) return done.result;
  }
}

Failure Transfer::FailureOf(CURLcode result) const {
  long status = 0;
  if (easy_) curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
  Failure f;
  f.httpStatus = static_cast<int>(status);
  switch (result) {
    case CURLE_OK:
      return FailureFromStatus(static_cast<int>(status));
    case CURLE_HTTP_RETURNED_ERROR:
      return FailureFromStatus(static_cast<int>(status));
    case CURLE_ABORTED_BY_CALLBACK:
      f.cause = FailureCause::Cancelled;
      break;
    case CURLE_UNSUPPORTED_PROTOCOL:
      f.cause = FailureCause::SchemeRefused;
      break;
    case CURLE_URL_MALFORMAT:
      f.cause = FailureCause::BadAddress;
      break;
    case CURLE_COULDNT_RESOLVE_HOST:
      f.cause = FailureCause::HostNotFound;
      f.detail = HostOf(easy_);
      break;
    case CURLE_COULDNT_RESOLVE_PROXY:
      f.cause = FailureCause::HostNotFound;
      f.detail = "(the proxy)";
      break;
    case CURLE_COULDNT_CONNECT: {
      long error = 0;
      curl_easy_getinfo(easy_, CURLINFO_OS_ERRNO, &error);
      if (error == ETIMEDOUT) {
        f.cause = FailureCause::Timeout;
      } else if (error == ECONNREFUSED || error == 0) {
        f.cause = FailureCause::Refused;
      } else {
        f.cause = FailureCause::Other;
        f.detail = std::string("cannot connect: ") + std::strerror(static_cast<int>(error));
      }
      break;
    }
    case CURLE_OPERATION_TIMEDOUT:
      f.cause = FailureCause::Timeout;
      break;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
      f.cause = FailureCause::Reset;
      break;
    case CURLE_PARTIAL_FILE:
      f.cause = FailureCause::ShortBody;
      break;
    case CURLE_SSL_CONNECT_ERROR:
      f.cause = FailureCause::Tls;
      break;
    case CURLE_PEER_FAILED_VERIFICATION:
      f.cause = FailureCause::CertificateNotTrusted;
      break;
    case CURLE_FILESIZE_EXCEEDED:
      f.cause = FailureCause::TooLarge;
      break;
    default:
      f.cause = FailureCause::Other;
      f.detail = errorText_[0] != '\0' ? errorText_ : curl_easy_strerror(result);
  }
  return f;
}

TransferLoop::TransferLoop() {
  if (!threadMulti.borrowed && threadMulti.handle) {
    threadMulti.borrowed = true;
    multi_ = threadMulti.handle;
  } else {
    multi_ = (Shared(), curl_multi_init());
    ownsMulti_ = true;
  }
}

TransferLoop::~TransferLoop() {
  for (Transfer* t : running_) curl_multi_remove_handle(multi_, t->easy_);
  if (ownsMulti_) {
    if (multi_) curl_multi_cleanup(multi_);
  } else {
    threadMulti.borrowed = false;
  }
}

bool TransferLoop::Add(Transfer& transfer) {
  if (!multi_ || !transfer.easy_) return false;
  transfer.StartWatch();
  if (curl_multi_add_handle(multi_, transfer.easy_) != CURLM_OK) return false;
  running_.push_back(&transfer);
  return true;
}

void TransferLoop::Remove(Transfer& transfer) {
  const auto it = std::find(running_.begin(), running_.end(), &transfer);
  if (it == running_.end()) return;
  // Removing an unfinished transfer closes its connection, so a stalled one is never reused.
  curl_multi_remove_handle(multi_, transfer.easy_);
  running_.erase(it);
}

std::vector<TransferLoop::Done> TransferLoop::Run(std::optional<std::chrono::steady_clock::time_point> deadline) {
  std::vector<Done> done;
  const auto finish = [&](Transfer* t, CURLcode result) {
    done.push_back({t, result});
    Remove(*t);
  };
  for (;;) {
    if (NetworkCancelRequested()) {
      while (!running_.empty()) finish(running_.front(), CURLE_ABORTED_BY_CALLBACK);
      return done;
    }
    if (!running_.empty()) {
      int stillRunning = 0;
      if (curl_multi_perform(multi_, &stillRunning) != CURLM_OK) {
        while (!running_.empty()) finish(running_.front(), CURLE_RECV_ERROR);
        return done;
      }
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
        if (msg->msg != CURLMSG_DONE) continue;
        const auto it =
            std::find_if(running_.begin(), running_.end(), [msg](Transfer* t) { return t->easy_ == msg->easy_handle; });
        if (it != running_.end()) finish(*it, msg->data.result);
      }
      const auto now = std::chrono::steady_clock::now();
      for (std::size_t i = 0; i < running_.size();) {
        if (running_[i]->Stalled(now)) {
          finish(running_[i], CURLE_OPERATION_TIMEDOUT);
        } else {
          ++i;
        }
      }
    }
    if (!done.empty()) return done;
    auto now = std::chrono::steady_clock::now();
    if (running_.empty() && (!deadline || now >= *deadline)) return done;
    if (deadline && now >= *deadline) return done;
    CallNetworkWaitHook();
    if (NetworkCancelRequested()) continue;
    now = std::chrono::steady_clock::now();
    auto wait = std::chrono::milliseconds{kPollMs};
    if (deadline) {
      wait =
          std::clamp(std::chrono::ceil<std::chrono::milliseconds>(*deadline - now), std::chrono::milliseconds{0}, wait);
    }
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(wait.count()), nullptr);
  }
}

std::string EscapeForRequestLine(const std::string& utf8) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size());
  for (unsigned char b : utf8) {
    if (b <= 0x20 || b >= 0x7F) {
      out += '%';
      out += hex[b >> 4];
      out += hex[b & 0x0F];
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

}  // namespace ombrik
