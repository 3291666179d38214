// One HTTP(S) transfer with the settings every transfer of the program shares, run so that the
// calling thread keeps calling the network wait hook. The request engine and the file download
// both build on it; each adds what is particular to its request on handle().
//
// Shared by all transfers of the process: the connection cache (keep-alive connections are
// reused across calls), the DNS cache, TLS sessions and the cookie store. Transfers are meant
// to run from one thread at a time.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <string>

namespace ombrik {

// Percent-escapes what may not stand in a request line: spaces, control bytes and bytes of
// 0x80 and above (by then the UTF-8 of a code page 936 character), byte by byte, as browsers do.
std::string EscapeForRequestLine(const std::string& utf8);

class Transfer {
 public:
  // A fresh easy handle with the common settings applied: http and https only (redirect targets
  // included), HTTP/1.1, certificate problems ignored, redirects followed, no proxy (the
  // environment's proxy variables are ignored), no content decoding, the default user agent,
  // and the connect time-out of network_wait.h.
  Transfer();
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Null when libcurl could not make a handle; Perform() then fails at once.
  CURL* handle() const { return easy_; }

  // Sends the process-wide cookie store's cookies and keeps the ones the responses set.
  void UseCookieStore();

  // Runs the transfer to its end through curl's multi interface, calling the network wait hook
  // on every turn and at least every 100 ms. When no byte arrives or leaves for the stall time
  // of network_wait.h once a connection is up, the transfer is abandoned with
  // CURLE_OPERATION_TIMEDOUT; so is one that moves less than 16 bytes a second
  // over a whole stall period (a drip that would never end).
  CURLcode Perform();

 private:
  static int OnConnected(void* self, char*, char*, int, int);

  CURL* easy_ = nullptr;
  // Set whenever a connection is ready to carry a request; the stall clock starts there.
  bool connected_ = false;
  std::chrono::steady_clock::time_point lastActivity_;
};

}  // namespace ombrik
