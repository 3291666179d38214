#include "catalogue/extraction.h"

#include <algorithm>

#include "catalogue/album_link.h"
#include "catalogue/track_arrays.h"
#include "json/json_document.h"
#include "text/codepage.h"
#include "text/text_ops.h"
#include "web/network_wait.h"
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
  for (int page = 1; page <= pageCount; ++page) {
    const PageText answer = FetchPageText(TrackPageUrl(album.id, page, options.apiOrigin), options.retry, options.network);
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
