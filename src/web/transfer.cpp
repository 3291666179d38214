#include "web/transfer.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "web/headers.h"
#include "web/network_wait.h"

namespace ombrik {
namespace {

constexpr long kMaxRedirects = 30;
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
    for (curl_lock_data d : {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_COOKIE, CURL_LOCK_DATA_DNS,
                             CURL_LOCK_DATA_SSL_SESSION}) {
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
CURLM* ThreadMulti() {
  struct Multi {
    Multi() : handle((Shared(), curl_multi_init())) {}
    ~Multi() {
      if (handle) curl_multi_cleanup(handle);
    }
    CURLM* handle;
  };
  thread_local Multi multi;
  return multi.handle;
}

}  // namespace

Transfer::Transfer() {
  CURLSH* share = Shared().share();
  easy_ = curl_easy_init();
  if (!easy_) return;
  if (share) curl_easy_setopt(easy_, CURLOPT_SHARE, share);
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
  // Self-signed, expired and misnamed certificates never stop a request.
  curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(easy_, CURLOPT_PROXY_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(easy_, CURLOPT_PROXY_SSL_VERIFYHOST, 0L);
  // Direct unless a caller names a proxy, whatever the environment says; a named proxy is used
  // for every host, loopback included.
  curl_easy_setopt(easy_, CURLOPT_PROXY, "");
  curl_easy_setopt(easy_, CURLOPT_NOPROXY, "");
  curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  // Bytes are kept as the server sent them; no Accept-Encoding is ever offered.
  curl_easy_setopt(easy_, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(easy_, CURLOPT_USERAGENT, kDefaultUserAgent);
  curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(GetNetworkTimeouts().connect.count()));
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

CURLcode Transfer::Perform() {
  if (!easy_) return CURLE_FAILED_INIT;
  CURLM* multi = ThreadMulti();
  if (!multi) return CURLE_OUT_OF_MEMORY;
  if (curl_multi_add_handle(multi, easy_) != CURLM_OK) return CURLE_FAILED_INIT;
  const auto stall = GetNetworkTimeouts().stall;
  connected_ = false;
  lastActivity_ = std::chrono::steady_clock::now();
  curl_off_t moved = 0;
  // A server that drips a byte now and then never stalls, yet would hold the run for ever:
  // a connection that moves less than kMinBytesPerSecond over a whole stall period fails too.
  const curl_off_t minPerPeriod =
      std::max<curl_off_t>(1, kMinBytesPerSecond * static_cast<curl_off_t>(stall.count()) / 1000);
  auto periodStart = lastActivity_;
  curl_off_t movedAtPeriodStart = 0;
  CURLcode result = CURLE_OK;
  for (;;) {
    int running = 0;
    CURLMcode mc = curl_multi_perform(multi, &running);
    if (mc != CURLM_OK) {
      result = CURLE_RECV_ERROR;
      break;
    }
    if (running == 0) {
      int queued = 0;
      CURLMsg* msg = curl_multi_info_read(multi, &queued);
      result = (msg && msg->msg == CURLMSG_DONE) ? msg->data.result : CURLE_RECV_ERROR;
      break;
    }
    if (NetworkCancelRequested()) {
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    const curl_off_t movedNow = BytesMoved(easy_);
    if (movedNow != moved) {
      moved = movedNow;
      lastActivity_ = now;
    } else if (connected_ && now - lastActivity_ >= stall) {
      result = CURLE_OPERATION_TIMEDOUT;
      break;
    }
    if (!connected_) {
      periodStart = now;
      movedAtPeriodStart = movedNow;
    } else if (now - periodStart >= stall) {
      if (movedNow - movedAtPeriodStart < minPerPeriod) {
        result = CURLE_OPERATION_TIMEDOUT;
        break;
      }
      periodStart = now;
      movedAtPeriodStart = movedNow;
    }
    CallNetworkWaitHook();
    curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
  }
  // Removing an unfinished transfer closes its connection, so a stalled one is never reused.
  curl_multi_remove_handle(multi, easy_);
  return result;
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
