// A loopback album service that answers whatever a test scripts: page answers per album id and
// files per path, hostile ones included (huge, endless, malformed).
#pragma once

#include <sys/resource.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "testsupport/loopback_server.h"

namespace ombrik::testing {

inline const std::string kPageService = "/m-revision/common/album/queryAlbumTrackRecordsByPage";

struct HostileTrack {
  std::string title;     // raw JSON string content, already escaped where needed
  std::string playPath;  // raw JSON string content
};

// A well-formed answer page.
inline std::string AnswerPage(const std::string& totalCount, const std::vector<HostileTrack>& tracks) {
  std::string body = R"({"ret":0,"data":{"totalCount":)" + totalCount + R"(,"trackDetailInfos":[)";
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    if (i) body += ",";
    body += R"({"trackInfo":{"title":")" + tracks[i].title + R"(","playPath":")" + tracks[i].playPath + R"("}})";
  }
  return body + "]}}";
}

class HostileService {
 public:
  // page is 1-based; the probe is page 1 with pageSize 2.
  using PageAnswer = std::function<std::string(int page, int pageSize)>;

  HostileService() {
    server_.server().Get(kPageService, [this](const httplib::Request& req, httplib::Response& res) {
      const std::string album = req.get_param_value("albumId");
      const int page = std::atoi(req.get_param_value("page").c_str());
      const int size = std::atoi(req.get_param_value("pageSize").c_str());
      Record(req.target);
      // "huge": 200 MB, for the limit on what a request keeps.
      if (album == "huge") return Huge(res, std::size_t{200} << 20);
      PageAnswer answer;
      {
        std::lock_guard lock(mutex_);
        auto it = albums_.find(album);
        if (it == albums_.end()) return res.set_content(R"({"ret":404})", "application/json");
        answer = it->second;
      }
      res.set_content(answer(page, size), "application/json");
    });
    server_.server().Get(R"(/file/(.*))", [this](const httplib::Request& req, httplib::Response& res) {
      Record(req.target);
      std::lock_guard lock(mutex_);
      auto it = files_.find(req.matches[1]);
      if (it == files_.end()) {
        res.status = 404;
        return;
      }
      res.set_content(it->second, "audio/wav");
    });
    server_.Start();
  }

  void SetAlbum(const std::string& id, PageAnswer answer) {
    std::lock_guard lock(mutex_);
    albums_[id] = std::move(answer);
  }
  void SetFile(const std::string& name, std::string bytes) {
    std::lock_guard lock(mutex_);
    files_[name] = std::move(bytes);
  }
  std::string Origin() const { return server_.BaseUrl(); }
  std::string FileUrl(const std::string& name) const { return Origin() + "/file/" + name; }
  std::vector<std::string> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  void ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
  }

 private:
  void Record(const std::string& target) {
    std::lock_guard lock(mutex_);
    requests_.push_back(target);
  }
  // `total` bytes of an answer that starts like JSON and never ends its string, made as they go.
  static void Huge(httplib::Response& res, std::size_t total) {
    res.set_content_provider(total, "application/json",
                             [total](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                               static const std::string chunk(64 * 1024, 'a');
                               const std::string head = R"({"data":{"totalCount":"1)";
                               if (offset == 0) return sink.write(head.data(), head.size());
                               return sink.write(chunk.data(), std::min(chunk.size(), total - offset));
                             });
  }

  testsupport::LoopbackServer server_;
  std::mutex mutex_;
  std::map<std::string, PageAnswer> albums_;
  std::map<std::string, std::string> files_;
  std::vector<std::string> requests_;
};

// The process's peak resident memory so far, in MiB.
inline long PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

}  // namespace ombrik::testing
