// The general HTTP request: one complete exchange, synchronous, returning the response body as
// delivered (nothing decoded). Failures are silent: the body is then empty or short.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <memory>
#include <optional>

#include "text/text.h"
#include "web/failure.h"
#include "web/network_settings.h"

namespace ombrik {

// The largest body a request keeps: thousands of times an album page, and far below what
// would strain the machine.
inline constexpr std::size_t kMaxWebRequestBody = std::size_t{16} << 20;

// The parameters after the URL, in their order, each with the value an omitted one takes.
// In/out and out fields are written back by WebRequest as described on each.
struct WebRequestParams {
  // 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE, 7 CONNECT; others mean GET.
  int method = 0;
  // The body as text, used for non-GET methods when postBytes is empty.
  Text postText;
  // In/out. nullopt: not supplied, so the process-wide cookie store sends and keeps cookies.
  // Supplied (even empty): the store is bypassed, these cookies are sent, and with mergeCookies
  // the response's cookies are merged into it.
  std::optional<Text> cookies;
  // Out: the cookies the response set, or the merged cookies.
  Text returnedCookies;
  // The caller's header lines, separated by CR LF.
  Text headers;
  // Out: the final response's raw header block (status line and header lines, each ended by
  // CR LF, then an empty line), or 5000 spaces when none arrived or it exceeds 4999 bytes.
  Text returnedHeaders;
  // Hand back a redirect response itself instead of following it.
  bool noRedirect = false;
  // In/out: the body as bytes; wins over postText. For non-GET methods an empty one is replaced
  // by the bytes of postText.
  Bytes postBytes;
  // "host:port" of a proxy; empty means direct.
  Text proxy;
  bool mergeCookies = true;
  // Add the default headers (Accept, Referer, Accept-Language, Content-Type for POST).
  bool completeHeaders = true;
  // Re-case the caller's header names and drop lines without a colon.
  bool normalizeHeaders = true;
  // `proxy` is a SOCKS5 proxy (host names resolved by the proxy) rather than an HTTP proxy.
  bool socksProxy = false;
  // A body longer than this is not held in memory: the transfer ends there and the body comes
  // back empty, as from a failed request. A server cannot make us hold more than this.
  std::size_t maxBodyBytes = kMaxWebRequestBody;
  // Time-outs and certificate trust.
  NetworkSettings network;
  // Out: why the request failed (an error status counts), with the server's Retry-After;
  // cause None when it succeeded.
  Failure failure;
};

class Transfer;

// One WebRequest in steps, so that several can run at once on a TransferLoop: set up, run the
// transfer (if any), then Finish writes the outputs into the params (which must outlive it)
// and answers the body, exactly as WebRequest does.
class WebExchange {
 public:
  WebExchange(const Text& url, WebRequestParams& params);
  ~WebExchange();
  WebExchange(const WebExchange&) = delete;
  WebExchange& operator=(const WebExchange&) = delete;

  // Null when there is nothing to send; Finish then reports the failure.
  Transfer* transfer();
  [[nodiscard]] Bytes Finish(CURLcode result);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Outputs are written only once a request could be set up: a URL without a host gives the
// empty body and leaves every field of `params` as it was.
Bytes WebRequest(const Text& url, WebRequestParams& params);
// A GET with every parameter omitted, the way the program fetches its pages.
Bytes WebRequest(const Text& url);

}  // namespace ombrik
