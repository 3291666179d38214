#include "albums.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>

namespace ombrik::albumservice {
namespace {

constexpr std::array kModePaths{
    std::pair{FileMode::Audio, std::string_view{"audio"}},
    std::pair{FileMode::Redirect, std::string_view{"fault/redirect"}},
    std::pair{FileMode::NotFound, std::string_view{"fault/404"}},
    std::pair{FileMode::ServerError, std::string_view{"fault/500"}},
    std::pair{FileMode::Drop, std::string_view{"fault/drop"}},
    std::pair{FileMode::ShortBody, std::string_view{"fault/short"}},
    std::pair{FileMode::ChunkedDrop, std::string_view{"fault/chunked-drop"}},
    std::pair{FileMode::Stall, std::string_view{"fault/stall"}},
    std::pair{FileMode::Changing, std::string_view{"fault/changing"}},
    std::pair{FileMode::Cut, std::string_view{"fault/cut"}},
    std::pair{FileMode::NoRange, std::string_view{"fault/no-range"}},
    std::pair{FileMode::Range416, std::string_view{"fault/range-416"}},
    std::pair{FileMode::NewEtag, std::string_view{"fault/new-etag"}},
    std::pair{FileMode::BadRange, std::string_view{"fault/bad-range"}},
    std::pair{FileMode::TooMany, std::string_view{"fault/429"}},
    std::pair{FileMode::TooManyDate, std::string_view{"fault/429-date"}},
    std::pair{FileMode::Unavailable, std::string_view{"fault/503"}},
    std::pair{FileMode::RetryLong, std::string_view{"fault/retry-long"}},
};

// Page sizes above this are refused, so one request cannot make the service build a huge text.
constexpr long long kMaxPageSize = 1000;

Album Numbered(std::string id, int count, FileMode file = FileMode::Audio) {
  Album album{std::move(id), count, {}, 0, false};
  for (int n = 1; n <= count; ++n) album.tracks.push_back({"第" + std::to_string(n) + "首", file});
  return album;
}

Album Demo() {
  static constexpr std::array<std::string_view, 12> kPieces{"春江花月夜", "高山流水", "平沙落雁",   "渔舟唱晚",
                                                            "梅花三弄",   "十面埋伏", "阳关三叠",   "汉宫秋月",
                                                            "夕阳箫鼓",   "广陵散",   "胡笳十八拍", "二泉映月"};
  Album album{"3921767", 36, {}, 0, false};
  for (int n = 1; n <= 36; ++n) {
    const std::string episode = (n < 10 ? "0" : "") + std::to_string(n);
    album.tracks.push_back({"第" + episode + "集 " + std::string{kPieces[(n - 1) % 12]}, {}});
  }
  return album;
}

Album AwkwardTitles() {
  Album album{"2000001",
              8,
              {{"A+B 混音版", {}},
               {"100%纯音乐", {}},
               {"%41%42", {}},
               {"他说\"你好\"", {}},
               {"한국어 노래", {}},
               {"🎵 音符之歌", {}},
               {"上/下：A\\B*C?D<E>F|G", {}},
               {"春　天", {}}},
              0,
              false};
  return album;
}

Album WithTotal(Album album, std::optional<int> total) {
  album.totalCount = total;
  return album;
}

// A short Chinese word for what the file does, so fault albums read well in the list and
// their file names stay free of the characters a file name may not hold.
std::string_view ModeLabel(FileMode mode) {
  switch (mode) {
    case FileMode::Audio:
      return "正常";
    case FileMode::Redirect:
      return "跳转";
    case FileMode::NotFound:
      return "不存在";
    case FileMode::ServerError:
      return "服务器错误";
    case FileMode::Drop:
      return "中途断开";
    case FileMode::ShortBody:
      return "长度不足";
    case FileMode::ChunkedDrop:
      return "分块中断";
    case FileMode::Stall:
      return "停滞";
    case FileMode::Changing:
      return "每次不同";
    case FileMode::Cut:
      return "断开可续传";
    case FileMode::NoRange:
      return "不支持续传";
    case FileMode::Range416:
      return "续传被拒";
    case FileMode::NewEtag:
      return "版本更换";
    case FileMode::BadRange:
      return "范围不符";
    case FileMode::TooMany:
      return "请求过多";
    case FileMode::TooManyDate:
      return "请求过多按日期";
    case FileMode::Unavailable:
      return "暂不可用";
    case FileMode::RetryLong:
      return "等待过久";
  }
  return "";
}

Album FaultFiles(std::string id, std::vector<FileMode> modes) {
  Album album{std::move(id), static_cast<int>(modes.size()), {}, 0, false};
  for (std::size_t i = 0; i < modes.size(); ++i) {
    album.tracks.push_back({"曲目" + std::to_string(i + 1) + " " + std::string{ModeLabel(modes[i])}, modes[i]});
  }
  return album;
}

std::vector<Album> BuildAlbums() {
  using enum FileMode;
  std::vector<Album> albums;
  albums.push_back(Demo());
  for (int count : {250, 200, 100, 5, 0, 500, 1}) albums.push_back(Numbered(std::to_string(1000000 + count), count));
  albums.push_back(Numbered("1010000", 10000));
  albums.push_back(Numbered("1100000", 100000));
  albums.push_back(AwkwardTitles());
  albums.push_back({"2000002", 3, {{"%22引号%22", {}}, {"A+B", {}}, {"普通标题", {}}}, 0, false});

  Album nonJson = Numbered("3000002", 250);
  nonJson.nonJsonPage = 2;
  albums.push_back(std::move(nonJson));
  albums.push_back(WithTotal(Numbered("3000003", 140), 150));
  Album slow = Numbered("3000004", 5);
  slow.slow = true;
  albums.push_back(std::move(slow));
  albums.push_back(WithTotal(Numbered("4040405", 0), std::nullopt));

  albums.push_back(FaultFiles("6000004", {Audio, Audio, Audio, Audio}));
  albums.push_back(FaultFiles("6000024", {Audio, NotFound, Audio, Audio}));
  albums.push_back(FaultFiles("6000044", {NotFound, NotFound, NotFound, NotFound}));
  albums.push_back(
      FaultFiles("6000099", {Audio, Redirect, NotFound, ServerError, Drop, ShortBody, ChunkedDrop, Stall, Changing}));
  albums.push_back(
      FaultFiles("6000105", {Cut, NoRange, Range416, NewEtag, BadRange, TooMany, TooManyDate, Unavailable, RetryLong}));
  return albums;
}

void AppendJsonString(std::string& out, std::string_view utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (byte < 0x20) {
      out += "\\u00";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
}

std::optional<long long> PositiveNumber(std::string_view text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < 1) {
    return std::nullopt;
  }
  return value;
}

Answer Json(int status, std::string body) { return {status, "application/json;charset=UTF-8", std::move(body)}; }

Answer Refusal(int httpStatus, int ret, std::string_view message) {
  std::string body = "{\"ret\":" + std::to_string(ret) + ",\"msg\":";
  AppendJsonString(body, message);
  body += "}";
  return Json(httpStatus, std::move(body));
}

std::string TrackJson(std::string_view playOrigin, const Album& album, int n) {
  const std::string id = album.id + std::to_string(100000 + n).substr(1);
  std::string json = "{\"id\":" + id + ",\"trackInfo\":{\"id\":" + id + ",\"title\":";
  AppendJsonString(json, album.tracks[n - 1].title);
  json += ",\"playPath\":";
  AppendJsonString(json, PlayPath(playOrigin, album, n));
  json += ",\"duration\":1}}";
  return json;
}

}  // namespace

std::string_view ModePath(FileMode mode) {
  for (const auto& [m, path] : kModePaths) {
    if (m == mode) return path;
  }
  return "audio";
}

std::optional<FileMode> ModeFromPath(std::string_view modePath) {
  for (const auto& [m, path] : kModePaths) {
    if (path == modePath) return m;
  }
  return std::nullopt;
}

const std::vector<Album>& AllAlbums() {
  static const std::vector<Album> albums = BuildAlbums();
  return albums;
}

const Album* FindAlbum(std::string_view id) {
  const auto& albums = AllAlbums();
  const auto it = std::find_if(albums.begin(), albums.end(), [&](const Album& a) { return a.id == id; });
  return it == albums.end() ? nullptr : &*it;
}

std::string PlayPath(std::string_view playOrigin, const Album& album, int trackNumber) {
  return std::string{playOrigin} + "/" + std::string{ModePath(album.tracks[trackNumber - 1].file)} + "/" + album.id +
         "/" + std::to_string(trackNumber) + ".wav";
}

ToneSpec ToneFor(std::string_view albumId, int trackNumber, int version) {
  std::uint32_t seed = 0;
  for (char c : albumId) seed = seed * 31 + static_cast<unsigned char>(c);
  // Distinct for any 600 consecutive tracks of an album: enough to tell files apart in tests.
  const std::uint32_t step =
      (seed % 97 + static_cast<std::uint32_t>(trackNumber) + 7u * static_cast<std::uint32_t>(version)) % 600;
  return ToneSpec{220.0 + 2.0 * step};
}

Answer AnswerPage(const PageRequest& request, std::string_view playOrigin) {
  const auto page = PositiveNumber(request.page);
  const auto pageSize = PositiveNumber(request.pageSize);
  if (request.albumId.empty() || !page || !pageSize || *pageSize > kMaxPageSize) {
    return Refusal(400, 400, "albumId, page and pageSize (1 to 1000) are required");
  }
  const Album* album = FindAlbum(request.albumId);
  if (album == nullptr) return Refusal(200, 404, "专辑不存在");
  if (*page == album->nonJsonPage) {
    return {200, "text/html;charset=UTF-8", "<html><body><h1>502 Bad Gateway</h1>服务繁忙</body></html>\n"};
  }

  const long long count = static_cast<long long>(album->tracks.size());
  // 0-based position of the page's first track in the asked order; the first test keeps the
  // product from overflowing for absurd page numbers.
  const long long first = *page - 1 >= count ? count : std::min(count, (*page - 1) * *pageSize);
  const long long last = std::min(count, first + *pageSize);
  const bool ascending = request.asc != "false";

  std::string body = "{\"ret\":0,\"msg\":\"成功\",\"data\":{\"albumId\":" + album->id;
  if (album->totalCount) body += ",\"totalCount\":" + std::to_string(*album->totalCount);
  body += ",\"pageNum\":" + std::to_string(*page) + ",\"pageSize\":" + std::to_string(*pageSize) +
          ",\"trackDetailInfos\":[";
  for (long long i = first; i < last; ++i) {
    if (i > first) body += ",";
    const int n = static_cast<int>(ascending ? i + 1 : count - i);
    body += TrackJson(playOrigin, *album, n);
  }
  body += "]}}";
  return Json(200, std::move(body));
}

}  // namespace ombrik::albumservice
