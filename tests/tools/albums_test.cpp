#include "album_service/albums.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ombrik::albumservice {
namespace {

constexpr std::string_view kOrigin = "https://127.0.0.1:1234";

// The values of every "key":"..." string member, in order; enough to read our own answers.
std::vector<std::string> StringMembers(const std::string& json, const std::string& key) {
  std::vector<std::string> values;
  const std::string start = "\"" + key + "\":\"";
  for (auto at = json.find(start); at != std::string::npos; at = json.find(start, at)) {
    at += start.size();
    std::string value;
    for (; json[at] != '"'; ++at) {
      if (json[at] == '\\') ++at;
      value.push_back(json[at]);
    }
    values.push_back(value);
  }
  return values;
}

TEST(AlbumPages, PagesHoldTheAskedSliceOfTheAlbum) {
  struct Case {
    std::string album, page, pageSize, asc;
    std::string total;  // the "totalCount" member as written
    std::size_t tracks;
    int firstTrack;  // n of the first play address; 0 when the page is empty
  };
  const Case cases[] = {
      {"1000250", "1", "2", "true", "250", 2, 1},  // the probe
      {"1000250", "1", "100", "true", "250", 100, 1},
      {"1000250", "3", "100", "true", "250", 50, 201},
      {"1000250", "4", "100", "true", "250", 0, 0},
      {"1000250", "2", "2", "true", "250", 2, 3},
      {"1000250", "1", "100", "false", "250", 100, 250},
      {"1000200", "3", "100", "true", "200", 0, 0},
      {"1000100", "1", "100", "true", "100", 100, 1},
      {"1000005", "1", "100", "true", "5", 5, 1},
      {"1000000", "1", "100", "true", "0", 0, 0},
      {"3921767", "1", "100", "true", "36", 36, 1},
      {"3000003", "2", "100", "true", "150", 40, 101},  // totalCount promises 50
      {"1010000", "100", "100", "true", "10000", 100, 9901},
      {"1100000", "1000", "100", "true", "100000", 100, 99901},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.album + " page " + c.page + " size " + c.pageSize + " asc " + c.asc);
    const Answer answer = AnswerPage({c.album, c.page, c.pageSize, c.asc}, kOrigin);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.contentType, "application/json;charset=UTF-8");
    EXPECT_NE(answer.body.find("\"totalCount\":" + c.total + ","), std::string::npos) << answer.body;
    const auto paths = StringMembers(answer.body, "playPath");
    ASSERT_EQ(paths.size(), c.tracks);
    EXPECT_EQ(StringMembers(answer.body, "title").size(), c.tracks);
    if (c.tracks > 0) {
      EXPECT_EQ(paths[0], std::string{kOrigin} + "/audio/" + c.album + "/" + std::to_string(c.firstTrack) + ".wav");
    }
  }
}

TEST(AlbumPages, UnknownAlbumsAndBrokenPagesCarryNoTotal) {
  const Answer unknown = AnswerPage({"123", "1", "2", "true"}, kOrigin);
  EXPECT_EQ(unknown.status, 200);
  EXPECT_EQ(unknown.body, "{\"ret\":404,\"msg\":\"专辑不存在\"}");

  const Answer noTotal = AnswerPage({"4040405", "1", "2", "true"}, kOrigin);
  EXPECT_NE(noTotal.body.find("\"data\":{"), std::string::npos);
  EXPECT_EQ(noTotal.body.find("totalCount"), std::string::npos);

  for (const char* size : {"2", "100"}) {
    const Answer broken = AnswerPage({"3000002", "2", size, "true"}, kOrigin);
    EXPECT_EQ(broken.status, 200);
    EXPECT_EQ(broken.contentType, "text/html;charset=UTF-8");
    EXPECT_EQ(broken.body.find('{'), std::string::npos);
  }
  EXPECT_EQ(StringMembers(AnswerPage({"3000002", "3", "100", "true"}, kOrigin).body, "playPath").size(), 50u);
}

TEST(AlbumPages, MalformedQueriesAreRefused) {
  const PageRequest bad[] = {
      {"", "1", "2", "true"},           {"1000005", "", "2", "true"},
      {"1000005", "0", "2", "true"},    {"1000005", "-1", "2", "true"},
      {"1000005", "1.5", "2", "true"},  {"1000005", "1", "x", "true"},
      {"1000005", "1", "1001", "true"}, {"1000005", "99999999999999999999", "2", "true"},
  };
  for (const PageRequest& request : bad) {
    SCOPED_TRACE(request.albumId + " page '" + request.page + "' size '" + request.pageSize + "'");
    const Answer answer = AnswerPage(request, kOrigin);
    EXPECT_EQ(answer.status, 400);
    EXPECT_TRUE(answer.body.starts_with("{\"ret\":400,"));
  }
  // A huge page number is simply past the end.
  EXPECT_TRUE(StringMembers(AnswerPage({"1000005", "999999999999999", "1000", "true"}, kOrigin).body, "title").empty());
}

TEST(AlbumPages, AwkwardTitlesAreEscapedOnlyWhereJsonNeedsIt) {
  const Answer answer = AnswerPage({"2000001", "1", "100", "true"}, kOrigin);
  EXPECT_NE(answer.body.find(R"("title":"他说\"你好\"")"), std::string::npos);
  EXPECT_NE(answer.body.find(R"("title":"上/下：A\\B*C?D<E>F|G")"), std::string::npos);
  const std::vector<std::string> expected{
      "A+B 混音版", "100%纯音乐", "%41%42", "他说\"你好\"", "한국어 노래", "🎵 音符之歌", "上/下：A\\B*C?D<E>F|G",
      "春　天"};
  EXPECT_EQ(StringMembers(answer.body, "title"), expected);
  EXPECT_EQ(StringMembers(AnswerPage({"2000002", "1", "100", "true"}, kOrigin).body, "title")[0], "%22引号%22");
}

TEST(AlbumPages, FaultAlbumsPointAtTheirModes) {
  const std::map<std::string, std::vector<std::string>> albums{
      {"6000099",
       {"audio", "fault/redirect", "fault/404", "fault/500", "fault/drop", "fault/short", "fault/chunked-drop",
        "fault/stall", "fault/changing"}},
      {"6000105",
       {"fault/cut", "fault/no-range", "fault/range-416", "fault/new-etag", "fault/bad-range", "fault/429",
        "fault/429-date", "fault/503", "fault/retry-long"}},
  };
  for (const auto& [id, modes] : albums) {
    const auto paths = StringMembers(AnswerPage({id, "1", "100", "true"}, kOrigin).body, "playPath");
    ASSERT_EQ(paths.size(), modes.size());
    for (std::size_t i = 0; i < modes.size(); ++i) {
      EXPECT_EQ(paths[i], std::string{kOrigin} + "/" + modes[i] + "/" + id + "/" + std::to_string(i + 1) + ".wav");
      ASSERT_TRUE(ModeFromPath(modes[i]).has_value()) << modes[i];
      EXPECT_EQ(ModePath(*ModeFromPath(modes[i])), modes[i]);
    }
  }
  const auto resumeTitles = StringMembers(AnswerPage({"6000105", "1", "100", "true"}, kOrigin).body, "title");
  EXPECT_EQ(resumeTitles.front(), "曲目1 断开可续传");
  EXPECT_EQ(resumeTitles.back(), "曲目9 等待过久");
  const std::string secondFails = AnswerPage({"6000024", "1", "100", "true"}, kOrigin).body;
  EXPECT_EQ(StringMembers(secondFails, "title")[1], "曲目2 不存在");
  const auto second = StringMembers(secondFails, "playPath");
  EXPECT_NE(second[1].find("/fault/404/"), std::string::npos);
  EXPECT_NE(second[2].find("/audio/"), std::string::npos);
}

std::uint32_t Le(const std::string& bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

TEST(WavTone, IsCanonicalPcmOfOneSecondAndDiffersPerTrack) {
  const std::string wav = MakeWavTone(ToneFor("3921767", 1));
  ASSERT_EQ(wav.size(), 44u + 16000u * 2);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(Le(wav, 4, 4), wav.size() - 8);
  EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(Le(wav, 16, 4), 16u);     // fmt size
  EXPECT_EQ(Le(wav, 20, 2), 1u);      // PCM
  EXPECT_EQ(Le(wav, 22, 2), 1u);      // mono
  EXPECT_EQ(Le(wav, 24, 4), 16000u);  // sample rate
  EXPECT_EQ(Le(wav, 28, 4), 32000u);  // byte rate
  EXPECT_EQ(Le(wav, 32, 2), 2u);      // block align
  EXPECT_EQ(Le(wav, 34, 2), 16u);     // bits
  EXPECT_EQ(wav.substr(36, 4), "data");
  EXPECT_EQ(Le(wav, 40, 4), wav.size() - 44);
  EXPECT_NE(wav.substr(44).find_first_not_of('\0'), std::string::npos);  // not silence

  EXPECT_NE(wav, MakeWavTone(ToneFor("3921767", 2)));
  EXPECT_NE(wav, MakeWavTone(ToneFor("3921767", 1, 1)));
  EXPECT_EQ(wav, MakeWavTone(ToneFor("3921767", 1)));
}

}  // namespace
}  // namespace ombrik::albumservice
