#include "catalogue/extraction.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <optional>

#include "catalogue/album_link.h"
#include "catalogue/track_arrays.h"
#include "json/json_document.h"
#include "text/codepage.h"
#include "text/text_ops.h"
#include "web/network_wait.h"
#include "web/transfer.h"
#include "web/web_request.h"

namespace ombrik {
namespace {

// The service's answers are percent-decoded before parsing, which breaks a page whose string
// values hold a '%' escape or '+' that the JSON needs as it stands (a title with "%22", say).
// Such a page is read undecoded rather than lost.
bool ParseAnswer(JsonDocument& doc, Text body) {
  // A byte order mark is no part of the JSON; left in, it would become '?' and spoil the page.
  if (TextStartsWith(body, "\xEF\xBB\xBF")) body = TextMid(body, 4, TextLength(body));
  const Text decoded = UrlDecode(body, true);
  if (doc.Parse(decoded)) return true;
  const Text plain = Utf8ToAnsi(TextToBytes(body));
  return plain != decoded && doc.Parse(plain);
}

// However many tracks an answer claims, the run asks for no more pages than this (100,000
// tracks, ten times the largest albums), so a hostile count cannot keep it busy for ever.
constexpr int kMaxPages = 1000;

// Why a page gave nothing: its request failed, or what came back was no JSON.
Failure WhyUnread(const PageText& page) {
  return page.failure.failed() ? page.failure : MakeFailure(FailureCause::Other, "the answer is not JSON");
}

Text TrackPath(const Text& index, const char* member) {
  return ConcatText("data.trackDetailInfos[", index, "].trackInfo.", member);
}

}  // namespace

Text HttpGetText(const Text& url) { return BytesToText(WebRequest(url)); }

namespace {

// The album's pages, fetched ahead of the one being read: up to `atOnce` requests in flight on
// one loop, each retried by the policy on its own; answers are taken in page order. Requests
// still in flight when it goes are cancelled and their answers never read.
class PagesAhead {
 public:
  PagesAhead(const ExtractionOptions& options, const Text& albumId, int pageCount)
      : options_(options), albumId_(albumId), pageCount_(pageCount) {}

  PageText Take(int page) {
    while (nextToStart_ <= pageCount_ && nextToStart_ < page + std::max(1, options_.pagesAtOnce)) {
      auto& slot = pages_[nextToStart_];
      slot = std::make_unique<Page>();
      slot->url = TrackPageUrl(albumId_, nextToStart_, options_.apiOrigin);
      Start(*slot);
      ++nextToStart_;
    }
    Page& wanted = *pages_.at(page);
    while (!wanted.done) {
      std::optional<std::chrono::steady_clock::time_point> wakeUp;
      for (const auto& [number, p] : pages_) {
        if (p->retryAt && (!wakeUp || *p->retryAt < *wakeUp)) wakeUp = p->retryAt;
      }
      for (const TransferLoop::Done& done : loop_.Run(wakeUp)) {
        for (auto& [number, p] : pages_) {
          if (p->exchange && p->exchange->transfer() == done.transfer) Ended(*p, done.result);
        }
      }
      const auto now = std::chrono::steady_clock::now();
      for (auto& [number, p] : pages_) {
        if (p->retryAt && *p->retryAt <= now) Start(*p);
      }
    }
    PageText text = std::move(wanted.text);
    pages_.erase(page);
    return text;
  }

 private:
  struct Page {
    Text url;
    WebRequestParams params;
    std::unique_ptr<WebExchange> exchange;
    int failedTries = 0;
    std::optional<std::chrono::steady_clock::time_point> retryAt;
    bool done = false;
    PageText text;
  };

  void Start(Page& page) {
    page.retryAt.reset();
    page.params = WebRequestParams{};
    page.params.network = options_.network;
    page.exchange = std::make_unique<WebExchange>(page.url, page.params);
    Transfer* transfer = page.exchange->transfer();
    if (transfer == nullptr || NetworkCancelRequested() || !loop_.Add(*transfer)) {
      Ended(page, NetworkCancelRequested() ? CURLE_ABORTED_BY_CALLBACK : CURLE_FAILED_INIT);
    }
  }

  void Ended(Page& page, CURLcode result) {
    const Text body = BytesToText(page.exchange->Finish(result));
    page.exchange.reset();
    Failure failure = page.params.failure;
    if (failure.failed() && !NetworkCancelRequested()) {
      if (const auto pause = RetryPause(options_.retry, ++page.failedTries, failure)) {
        page.retryAt = std::chrono::steady_clock::now() + *pause;
        return;
      }
    }
    page.done = true;
    page.text = {body, failure};
  }

  const ExtractionOptions& options_;
  const Text albumId_;
  const int pageCount_;
  int nextToStart_ = 1;
  // Before the loop, so that the loop lets go of the transfers before they are freed.
  std::map<int, std::unique_ptr<Page>> pages_;
  TransferLoop loop_;
};

}  // namespace

PageText FetchPageText(const Text& url, const RetryPolicy& retry, const NetworkSettings& network) {
  for (int failedTries = 0;;) {
    WebRequestParams params;
    params.network = network;
    PageText page{BytesToText(WebRequest(url, params)), params.failure};
    if (!page.failure.failed()) return page;
    const auto pause = RetryPause(retry, ++failedTries, page.failure);
    if (!pause || !PauseWithHook(*pause)) return page;
  }
}

void OnExtractTrackList(WindowOperations& window, const ExtractionOptions& options) {
  JsonDocument doc;
  TrackTitles.Clear();
  TrackPlayPaths.Clear();
  window.DeleteAllRows();

  const AlbumId album = AlbumIdFromLink(window.EditText(Control::编辑框_URL));
  if (album.pieceCount < 1) {
    window.ShowMessage("专辑链接为空 或 专辑未找到！"_t, "错误"_t, MessageIcon::Error);
    return;
  }

  // The probe asks for two tracks only to learn the album's track count.
  const PageText probe = FetchPageText(FirstPageUrl(album.id, options.apiOrigin), options.retry, options.network);
  if (!ParseAnswer(doc, probe.text)) window.PageFailed(0, WhyUnread(probe));
  const Text totalText = doc.GetText("data.totalCount");
  window.SetListCaption(ConcatText("音频列表（共"_t, totalText, "个）:"_t));
  const double total = TextToNumber(totalText);
  const PagePlan plan = PlanPages(total);

  const int pageCount = std::min(plan.pageCount, kMaxPages);
  ListingSummary summary{.totalKnown = !totalText.empty(), .total = totalText};
  PagesAhead pages(options, album.id, pageCount);
  for (int page = 1; page <= pageCount; ++page) {
    const PageText answer = pages.Take(page);
    if (!ParseAnswer(doc, answer.text)) {
      window.PageFailed(page, WhyUnread(answer));
      ++summary.failedPages;
      window.ShowMessage("网页Json数据格式不正确！"_t, "信息"_t, MessageIcon::Error);
      continue;
    }
    // A page after the first without a single track entry is the service's end of the album,
    // whatever the count said: paging on would only add empty rows.
    if (page > 1 && doc.Count("data.trackDetailInfos") == 0) break;
    const int items = ItemsOnPage(page, plan);
    for (int k = 1; k <= items; ++k) {
      const Text index = TrackIndexText(k);
      TrackTitles.Append(doc.GetText(TrackPath(index, "title")));
      TrackPlayPaths.Append(doc.GetText(TrackPath(index, "playPath")));
      const int row = window.InsertRow(TrackRowNumber(total, page, k));
      window.SetCell(row, 1, TrackTitles.At(row + 1));
      window.SetCell(row, 2, TrackPlayPaths.At(row + 1));
    }
  }
  summary.rows = TrackTitles.Size();
  window.ListingDone(summary);
}

}  // namespace ombrik
