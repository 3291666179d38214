// The albums the loopback album service knows, and its answers to page requests.
//
// Album ids (every other id is unknown and answers {"ret":404,"msg":"专辑不存在"}):
//
//   id        tracks  what it is for
//   3921767       36  demo album, Chinese titles (the window's initial link)
//   1000250      250  paging: probe + 3 pages, last page 50 tracks
//   1000200      200  paging: last page requested and empty
//   1000100      100  paging: one full page, then an empty one
//   1000005        5  one short page
//   1000000        0  totalCount 0
//   1000500      500  the many-files download benchmark
//   1000001        1  the one-big-file download benchmark
//   1010000    10000  the extraction benchmark
//   1100000   100000  the listing memory benchmark
//   2000001        8  awkward titles: '+', '%', "%41%42", a double quote, Hangul (not in
//                     code page 936), an emoji, file-name-hostile characters, a full-width space
//   2000002        3  a title ("%22引号%22") whose page is no longer JSON once percent-decoded
//   3000002      250  page 2 (of any page size) answers an HTML text, not JSON
//   3000003      140  totalCount says 150: the last page holds 40 tracks instead of 50
//   3000004        5  slow: every answer waits Options::slowAlbumDelay first
//   4040405        0  answer has "data" but no "totalCount"
//   6000004        4  four good files
//   6000024        4  four files, the second answers 404
//   6000044        4  four files, all answer 404
//   6000099        9  one track per file mode, Audio .. Changing, in the order of FileMode below
//   6000105        9  one track per resume and retry mode, Cut .. RetryLong, in the order of
//                     FileMode below
//
// Titles: "第<n>首" in the numbered albums, "曲目<n> <mode in Chinese>" in the 6000000 albums.
//
// Play addresses are "<origin>/<mode path>/<album id>/<n>.wav", n = 1..tracks, where the mode
// path is "audio" for a good file or "fault/<mode>" (see FileMode).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wav_tone.h"

namespace ombrik::albumservice {

// How a play address answers. All modes serve (part of) the track's tone. "Ranged" answers
// carry ETag (a hash of the bytes), Last-Modified (a fixed date) and Accept-Ranges: bytes, and
// honour one Range (bytes=N-, bytes=N-M, bytes=-S) with 206 and Content-Range, If-Range (an
// ETag or date that is not the current one: 200 and the whole file) and answer a range that
// starts past the end with 416 and "Content-Range: bytes */LEN". The older fault modes
// (Redirect .. Changing) send no validator, so a failed transfer there leaves nothing to resume.
// A Range the server library cannot parse (e.g. bytes=5-3) gets 416 without Content-Range
// before any mode sees it. "Fetch" counts every request of the path (HEAD too) since the
// service started or ResetFetchCounts().
enum class FileMode {
  Audio,        // audio/          ranged; 200 is the whole WAV, exact Content-Length
  Redirect,     // fault/redirect/ 302 to <origin>/audio/<album>/<n>.<ext>
  NotFound,     // fault/404/      404 with a small HTML body
  ServerError,  // fault/500/      500 with a small HTML body
  Drop,         // fault/drop/     200, full Content-Length, half the bytes, then the connection closes
  ShortBody,    // fault/short/    200, Content-Length 1000 bytes more than the whole WAV it sends, then closes
  ChunkedDrop,  // fault/chunked-drop/ 200, chunked, half the bytes, closes without the last chunk
  Stall,        // fault/stall/    200 and headers, then no byte until Options::stallFor passes or the service stops
  Changing,     // fault/changing/ 200, a different tone on every fetch of the same address
  // Resume and retry modes. "Cut" below: a 200 announces the whole length, sends the first
  // half and closes the connection; a 206 is sent whole.
  Cut,          // fault/cut/       ranged; every 200 is cut, so only a resuming client completes it
  NoRange,      // fault/no-range/  fetch 1 as Cut; later Range is ignored: 200, whole, same ETag,
                //                  no Accept-Ranges
  Range416,     // fault/range-416/ fetch 1 as Cut; later any Range gets 416 (bytes */LEN), a
                //                  request without Range 200 whole
  NewEtag,      // fault/new-etag/  fetch k serves version k (another tone, ETag and Last-Modified),
                //                  ranged; fetch 1 is cut as in Cut, later ones whole; an If-Range of
                //                  an older version never matches
  BadRange,     // fault/bad-range/ fetch 1 as Cut; later a Range gets 206 with the whole file and
                //                  "Content-Range: bytes 0-(LEN-1)/LEN", whatever was asked; a
                //                  request without Range 200 whole
  TooMany,      // fault/429/       fetch 1: 429 with "Retry-After: 1"; later as Audio
  TooManyDate,  // fault/429-date/  fetch 1: 429 with Retry-After an HTTP date 1-2 s ahead; later as Audio
  Unavailable,  // fault/503/       fetch 1: 503 without Retry-After; later as Audio
  RetryLong,    // fault/retry-long/ always 429 with "Retry-After: 3600"
};

std::string_view ModePath(FileMode mode);
std::optional<FileMode> ModeFromPath(std::string_view modePath);

struct Track {
  std::string title;  // UTF-8
  FileMode file = FileMode::Audio;
};

struct Album {
  std::string id;
  std::optional<int> totalCount;  // empty: the answer's data has no totalCount
  std::vector<Track> tracks;
  int nonJsonPage = 0;  // this page number answers HTML instead of JSON; 0 for none
  bool slow = false;
};

const std::vector<Album>& AllAlbums();
const Album* FindAlbum(std::string_view id);

// The raw query values of one page request; a missing key is an empty string.
struct PageRequest {
  std::string albumId;
  std::string page;
  std::string pageSize;
  std::string asc;
};

struct Answer {
  int status = 200;
  std::string contentType;
  std::string body;
};

// The service's answer to a page request; play addresses start with playOrigin
// ("scheme://host:port", no trailing slash).
Answer AnswerPage(const PageRequest& request, std::string_view playOrigin);

std::string PlayPath(std::string_view playOrigin, const Album& album, int trackNumber);

// The tone of track n of an album; version > 0 gives the changed tones of FileMode::Changing
// and FileMode::NewEtag.
ToneSpec ToneFor(std::string_view albumId, int trackNumber, int version = 0);

}  // namespace ombrik::albumservice
