// A realistic answer page of the album track service, as UTF-8 JSON, for tests and benchmarks.
#pragma once

#include <string>

namespace ombrik::fixtures {

// Track k (0-based) of the page has the title "第<k+1>集 山海经 + 序章 <k+1>" and the play
// address "https://audio.example/group1/M00/<k+1>/track_<k+1>.m4a".
inline std::string AnswerPageUtf8(int tracks, int totalCount) {
  std::string json = R"({"ret":0,"msg":"成功","data":{"albumId":3160816,"pageNum":1,"pageSize":100,)";
  json += R"("totalCount":)" + std::to_string(totalCount) + R"(,"trackDetailInfos":[)";
  for (int k = 1; k <= tracks; ++k) {
    if (k > 1) json += ',';
    const std::string n = std::to_string(k);
    json += R"({"id":)" + std::to_string(90000 + k) + R"(,"trackInfo":{"trackId":)" + std::to_string(470000 + k) +
            R"(,"title":"第)" + n + R"(集 山海经 + 序章 )" + n + R"(","playPath":"https://audio.example/group1/M00/)" +
            n + "/track_" + n + R"(.m4a","duration":)" + std::to_string(600 + k) +
            R"(,"isPaid":false,"isFree":true,"createdAt":1595246400000,"playCount":12345},)"
            R"("albumInfo":{"albumId":3160816,"title":"山海经","cover":"//img.example/a.jpg"}})";
  }
  json += "]}}";
  return json;
}

}  // namespace ombrik::fixtures
