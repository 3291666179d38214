#include "catalogue/album_link.h"

#include "text/text_ops.h"

namespace ombrik {

Text TrackApiOrigin(const Text& configured) {
  Text origin = configured.empty() ? Text(kDefaultApiOrigin) : configured;
  while (TextRight(origin, 1) == Text("/")) origin = TextLeft(origin, TextLength(origin) - 1);
  return origin;
}

Text TrackApiPrefix(const Text& origin) { return ConcatText(TrackApiOrigin(origin), kTrackServicePath, "?albumId="); }

AlbumId AlbumIdFromLink(const Text& link) {
  // A shared link often carries "?from=..." or "#..."; neither belongs to the id.
  Text path = link;
  for (const char* mark : {"?", "#"}) {
    const int at = FindText(path, mark);
    if (at != -1) path = TextLeft(path, at - 1);
  }
  TextArray pieces;
  AlbumId result;
  result.pieceCount = SplitText(path, "/", 0, pieces);
  if (result.pieceCount >= 1) result.id = pieces.At(pieces.Size());
  return result;
}

Text FirstPageUrl(const Text& albumId, const Text& origin) {
  return ConcatText(TrackApiPrefix(origin), albumId, "&page=1&pageSize=2&asc=true");
}

Text TrackPageUrl(const Text& albumId, int page, const Text& origin) {
  return ConcatText(TrackApiPrefix(origin), albumId, "&page=", IntToText(page), "&pageSize=100&asc=true");
}

PagePlan PlanPages(double total) {
  PagePlan plan;
  plan.fullPages = IntDiv(total, 100);
  plan.rest = Remainder(total, 100);
  plan.pageCount = TruncToInt(plan.fullPages + 1.0);
  return plan;
}

int ItemsOnPage(int page, const PagePlan& plan) {
  if (page - (plan.fullPages + 1.0) < -0.0000001) return 100;
  return TruncToInt(plan.rest);
}

Text TrackIndexText(int k) { return NumberToText(k - 1.0); }

Text TrackRowNumber(double total, int page, int k) { return NumberToText(total - (page - 1.0) * 100.0 - k + 1.0); }

}  // namespace ombrik
