// One HTTP(S) transfer with the settings every transfer of the program shares, and the loop that
// runs transfers so that the calling thread keeps calling the network wait hook. The request
// engine and the file download both build on it; each adds what is particular to its request
// on handle().
//
// Shared by all transfers of the process: the connection cache (keep-alive connections are
// reused across calls), the DNS cache, TLS sessions and the cookie store. Each thread runs its
// own transfers.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "web/failure.h"
#include "web/network_settings.h"

namespace ombrik {

// Percent-escapes what may not stand in a request line: spaces, control bytes and bytes of
// 0x80 and above (by then the UTF-8 of a code page 936 character), byte by byte, as browsers do.
std::string EscapeForRequestLine(const std::string& utf8);

class Transfer {
 public:
  // A fresh easy handle with the common settings applied: http and https only (redirect targets
  // included), HTTP/1.1, certificates checked as the settings say, redirects followed, no
  // proxy (the environment's proxy variables are ignored), no content decoding, the default
  // user agent, and the settings' time-outs.
  explicit Transfer(const NetworkSettings& settings = {});
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Null when libcurl could not make a handle; Perform() then fails at once.
  CURL* handle() const { return easy_; }

  // Sends the process-wide cookie store's cookies and keeps the ones the responses set.
  void UseCookieStore();

  // Runs this transfer alone to its end (see TransferLoop).
  [[nodiscard]] CURLcode Perform();

  // Why the finished transfer failed, from its result and the final status (a status of 400
  // or more is a failure even when the exchange itself went well). Cause None for success.
  Failure FailureOf(CURLcode result) const;

 private:
  friend class TransferLoop;
  static int OnConnected(void* self, char*, char*, int, int);
  // Starts the stall clock; called when the transfer joins a loop.
  void StartWatch();
  // Whether the transfer has stalled: nothing moved for the stall time once a connection was
  // up, or less than 16 bytes a second over a whole stall period (a drip that would never end).
  bool Stalled(std::chrono::steady_clock::time_point now);

  CURL* easy_ = nullptr;
  char errorText_[CURL_ERROR_SIZE] = {};
  std::chrono::milliseconds stall_;
  // Set whenever a connection is ready to carry a request; the stall clock starts there.
  bool connected_ = false;
  std::chrono::steady_clock::time_point lastActivity_;
  curl_off_t moved_ = 0;
  std::chrono::steady_clock::time_point periodStart_;
  curl_off_t movedAtPeriodStart_ = 0;
};

// Runs any number of transfers at once on one multi handle in the calling thread.
class TransferLoop {
 public:
  TransferLoop();
  ~TransferLoop();  // removes what still runs, which closes those connections
  TransferLoop(const TransferLoop&) = delete;
  TransferLoop& operator=(const TransferLoop&) = delete;

  // Starts the transfer; false when it could not be started (it is then not in the loop).
  bool Add(Transfer& transfer);
  // Ends the transfer where it stands; its connection is closed, never reused.
  void Remove(Transfer& transfer);
  bool empty() const { return running_.empty(); }

  struct Done {
    Transfer* transfer;
    CURLcode result;
  };
  // Drives the transfers until at least one has ended or the deadline has passed (at once when
  // the loop is empty and there is no deadline). Calls the network wait hook at least every
  // 100 ms. An ended transfer has left the loop; a stalled one ends with
  // CURLE_OPERATION_TIMEDOUT; once a cancel is requested every transfer ends with
  // CURLE_ABORTED_BY_CALLBACK.
  std::vector<Done> Run(std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

 private:
  CURLM* multi_ = nullptr;
  bool ownsMulti_ = false;
  std::vector<Transfer*> running_;
};

}  // namespace ombrik
