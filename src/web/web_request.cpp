#include "web/web_request.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text/text_ops.h"
#include "web/cookies.h"
#include "web/headers.h"
#include "web/transfer.h"
#include "web/url_parts.h"

namespace ombrik {
namespace {

constexpr const char* kVerbs[] = {"GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT"};
constexpr int kGet = 0, kPost = 1, kHead = 2, kPut = 3;
// The header buffer of the original engine held 5000 bytes with its terminating zero.
constexpr std::size_t kMaxHeaderBlock = 4999;
constexpr int kHeaderBufferSize = 5000;

class HeaderList {
 public:
  HeaderList() = default;
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  ~HeaderList() { curl_slist_free_all(list_); }

  void Add(const std::string& line) {
    if (curl_slist* grown = curl_slist_append(list_, line.c_str())) list_ = grown;
    lines_.push_back(line);
  }
  // Whether a line names this header the way libcurl looks for it: "Name:" or "Name;" at the
  // start, any case.
  bool Names(std::string_view name) const {
    for (const std::string& line : lines_) {
      if (line.size() > name.size() && strncasecmp(line.c_str(), name.data(), name.size()) == 0 &&
          (line[name.size()] == ':' || line[name.size()] == ';')) {
        return true;
      }
    }
    return false;
  }
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
  std::vector<std::string> lines_;
};

// The composed block, line for line, plus what keeps libcurl from adding headers the block does
// not carry (its own Accept, Expect: 100-continue, and the form Content-Type of a body).
void FillHeaderList(const Text& block, bool withBody, HeaderList& list) {
  for (const Text& piece : SplitKeepingEmpty(block, Text("\r\n"))) {
    if (piece.empty()) continue;
    std::string line = piece.str();
    std::size_t colon = line.find(':');
    // libcurl reads "Name:" with nothing after it as "do not send Name"; "Name;" sends it empty.
    if (colon != std::string::npos && line.find_first_not_of(" \t", colon + 1) == std::string::npos) {
      line = line.substr(0, colon) + ";";
    }
    list.Add(line);
  }
  if (!list.Names("Accept")) list.Add("Accept:");
  if (!list.Names("Expect")) list.Add("Expect:");
  if (withBody && !list.Names("Content-Type")) list.Add("Content-Type:");
}

bool UnusableInHost(unsigned char b) {
  return b < 0x21 || b == 0x7F || std::strchr("\"#%/<>?@[\\]^`{|}", b) != nullptr;
}

// The URL handed to libcurl, rebuilt from the cut host, port and path so that it names exactly
// the server and object the cutting found. Empty when libcurl could not use it as meant.
std::string CurlUrl(bool secure, const Text& host, int port, const Text& path) {
  for (std::size_t i = 0; i < host.size(); ++i) {
    if (UnusableInHost(host.byte(i))) return {};
  }
  if (port > 65535) return {};
  if (port <= 0) port = secure ? 443 : 80;  // no port given: the scheme's own
  return std::string(secure ? "https://" : "http://") + TextToUtf8(host) + ":" + std::to_string(port) +
         EscapeForRequestLine(TextToUtf8(path));
}

// What came back. The header block is the latest response's; trailers after a body are not
// part of it.
struct Response {
  Bytes body;
  std::string headers;
  bool inHeaders = false;
  bool headersComplete = false;
  bool informational = false;  // a 1xx answer, followed by the real one
  // Ends the exchange once a final header block is in (see SetMethod on HEAD).
  bool stopAfterHeaders = false;

  std::size_t maxBody = kMaxWebRequestBody;
  bool tooLong = false;

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto* r = static_cast<Response*>(self);
    if (size * count > r->maxBody - r->body.size()) {
      r->tooLong = true;
      return 0;  // ends the transfer with a write error
    }
    r->body.append(data, size * count);
    return size * count;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* r = static_cast<Response*>(self);
    std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
      r->headers.clear();
      r->inHeaders = true;
      r->headersComplete = false;
      std::size_t space = line.find(' ');
      r->informational = space != std::string_view::npos && line.substr(space + 1, 1) == "1";
    }
    if (!r->inHeaders) return size * count;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    r->headers.append(line);
    r->headers.append("\r\n");
    if (line.empty()) {
      r->inHeaders = false;
      r->headersComplete = true;
      if (r->stopAfterHeaders && !r->informational) return 0;  // aborts the transfer here
    }
    return size * count;
  }

  std::optional<std::chrono::seconds> RetryAfter() const {
    for (std::size_t at = 0; at < headers.size();) {
      const std::size_t end = std::min(headers.find("\r\n", at), headers.size());
      const std::string_view line(headers.data() + at, end - at);
      if (line.size() > 12 && strncasecmp(line.data(), "Retry-After:", 12) == 0) {
        return ParseRetryAfter(line.substr(12), std::chrono::system_clock::now());
      }
      at = end + 2;
    }
    return std::nullopt;
  }

  Text HeaderBlock() const {
    if (!headersComplete || headers.size() > kMaxHeaderBlock) return BlankText(kHeaderBufferSize);
    return BytesToText(Bytes(headers));
  }
};

void SetMethod(CURL* easy, int method, const Bytes* body, Response& response) {
  auto sendBody = [&] {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body->data().data());
  };
  switch (method) {
    case kGet:
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
      return;
    case kPost:
      // A plain POST, so that a 301/302/303 turns into a GET as it does in browsers.
      curl_easy_setopt(easy, CURLOPT_POST, 1L);
      sendBody();
      return;
    case kHead:
      if (body->empty()) {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        return;
      }
      // libcurl sends no body with a real HEAD, and with a HEAD verb on a body-carrying
      // request it waits for a response body that never comes. So the body goes out that
      // way and the exchange ends after the header block; a redirect then cannot be followed,
      // as following needs the redirect's body read.
      sendBody();
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, kVerbs[kHead]);
      curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
      response.stopAfterHeaders = true;
      return;
    default:
      if (method == kPut || !body->empty()) {
        sendBody();
      } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
      }
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, kVerbs[method]);
  }
}

void SetProxy(CURL* easy, const Text& proxy, bool socks) {
  if (proxy.empty()) return;
  curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
  // An HTTP proxy carries http requests itself and tunnels https ones with CONNECT.
  curl_easy_setopt(easy, CURLOPT_PROXYTYPE, static_cast<long>(socks ? CURLPROXY_SOCKS5_HOSTNAME : CURLPROXY_HTTP));
}

// A header value cannot span lines; an agent picked from a malformed block is cut at its first
// line break instead of smuggling in further header lines.
std::string SingleLine(const Text& agent) {
  const std::string& s = agent.str();
  return s.substr(0, s.find_first_of("\r\n"));
}

}  // namespace

struct WebExchange::State {
  WebRequestParams& p;
  Transfer transfer;
  Response response;
  HeaderList headerList;
  bool setUp = false;     // a request could be made at all: outputs are written
  bool runnable = false;  // and it can be sent

  State(WebRequestParams& params) : p(params), transfer(params.network) {}
};

WebExchange::WebExchange(const Text& url, WebRequestParams& p) : state_(std::make_unique<State>(p)) {
  Text block = p.normalizeHeaders ? NormalizeHeaderNames(p.headers) : p.headers;
  const int method = (p.method < 0 || p.method > 7) ? kGet : p.method;
  const bool secure = TextToLower(TextLeft(url, 8)) == Text("https://");
  const Text agent = ChooseUserAgent(block);

  CURL* easy = state_->transfer.handle();
  if (!easy) return;
  const Text host = UrlHost(url);
  const int port = UrlPort(url);
  if (host.empty()) {  // no server to connect to
    p.failure = MakeFailure(FailureCause::BadAddress);
    return;
  }
  state_->setUp = true;
  const Text path = UrlPath(url);

  if (p.completeHeaders) block = CompleteHeaderBlock(block, url, method);
  if (p.cookies && !p.cookies->empty()) block = AppendCookieHeader(block, *p.cookies);

  const Bytes* body = nullptr;
  if (method != kGet) {
    if (p.postBytes.empty()) p.postBytes = TextToBytes(p.postText);
    body = &p.postBytes;
  }

  Response& response = state_->response;
  response.maxBody = p.maxBodyBytes;
  const std::string target = CurlUrl(secure, host, port, path);
  if (target.empty()) return;
  state_->runnable = true;
  FillHeaderList(block, body != nullptr && !body->empty(), state_->headerList);
  curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, p.noRedirect ? 0L : 1L);
  SetMethod(easy, method, body, response);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, state_->headerList.get());
  curl_easy_setopt(easy, CURLOPT_USERAGENT, SingleLine(agent).c_str());
  SetProxy(easy, p.proxy, p.socksProxy);
  if (!p.cookies) state_->transfer.UseCookieStore();
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Response::OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &response);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Response::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &response);
}

WebExchange::~WebExchange() = default;

Transfer* WebExchange::transfer() { return state_->runnable ? &state_->transfer : nullptr; }

Bytes WebExchange::Finish(CURLcode result) {
  WebRequestParams& p = state_->p;
  if (!state_->setUp) return {};
  Response& response = state_->response;
  if (state_->runnable) {
    // Failures show as an empty or short body and missing headers, and in p.failure.
    p.failure = state_->transfer.FailureOf(result);
    if (response.tooLong) p.failure = MakeFailure(FailureCause::TooLarge);
    if (p.failure.failed()) p.failure.retryAfter = response.RetryAfter();
  } else {
    p.failure = MakeFailure(FailureCause::BadAddress);
  }
  p.returnedHeaders = response.HeaderBlock();
  p.returnedCookies = ExtractSetCookies(SplitKeepingEmpty(p.returnedHeaders, Text("\r\n")));
  if (p.cookies && p.mergeCookies) p.returnedCookies = MergeCookies(*p.cookies, p.returnedCookies);
  if (response.tooLong) return {};
  return std::move(response.body);
}

Bytes WebRequest(const Text& url, WebRequestParams& p) {
  WebExchange exchange(url, p);
  Transfer* transfer = exchange.transfer();
  return exchange.Finish(transfer ? transfer->Perform() : CURLE_FAILED_INIT);
}

Bytes WebRequest(const Text& url) {
  WebRequestParams params;
  return WebRequest(url, params);
}

}  // namespace ombrik
