// From an album link to the album id, the album track service's request addresses, the page
// plan and the numbers of the list rows. Pure computation; the requests are the extraction
// run's.
#pragma once

#include "text/text.h"

namespace ombrik {

// Where the album track service lives unless the front end's settings say otherwise.
inline constexpr const char* kDefaultApiOrigin = "https://m.ombrik-demo.example";
inline constexpr const char* kTrackServicePath = "/m-revision/common/album/queryAlbumTrackRecordsByPage";

// scheme://host[:port] of the album track service: the configured origin when it is not empty
// (a trailing "/" dropped), else the built-in default.
Text TrackApiOrigin(const Text& configured = {});
// The origin, the service path and "?albumId=".
Text TrackApiPrefix(const Text& origin = {});

struct AlbumId {
  int pieceCount = 0;  // non-empty "/"-pieces of the link; below 1 means no album id
  Text id;
};
// The last non-empty "/"-piece of the link, after cutting off any query and fragment.
AlbumId AlbumIdFromLink(const Text& link);

// An empty origin is the built-in default.
Text FirstPageUrl(const Text& albumId, const Text& origin = {});
Text TrackPageUrl(const Text& albumId, int page, const Text& origin = {});

struct PagePlan {
  double fullPages = 0;
  double rest = 0;
  int pageCount = 1;
};
PagePlan PlanPages(double total);
int ItemsOnPage(int page, const PagePlan& plan);

// k is 1-based on the page; the index is 0-based inside the answer's track array.
Text TrackIndexText(int k);
// Numbers run downward from the total: the first track of page 1 gets Total.
Text TrackRowNumber(double total, int page, int k);

}  // namespace ombrik
