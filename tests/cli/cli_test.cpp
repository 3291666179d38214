// ombrik-cli as a user or a script meets it: the built program, run as a child process against
// the loopback album service, with real files in a temporary folder.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "album_service/album_service.h"
#include "album_service/albums.h"
#include "album_service/wav_tone.h"
#include "temp_dir.h"

extern char** environ;

namespace ombrik {
namespace {

namespace svc = albumservice;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct Result {
  int status = -1;  // exit status, or 128 + the signal that ended the child
  std::string out;
  std::string err;
};

// One run of the program; stdout and stderr go to files, so nothing can block on a pipe.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::string& workDir,
        const std::map<std::string, std::string>& env = {}) {
    out_ = (std::filesystem::path(io_.path()) / "out").string();
    err_ = (std::filesystem::path(io_.path()) / "err").string();
    std::vector<std::string> argv{OMBRIK_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp;
    for (char** e = environ; *e != nullptr; ++e) {
      if (!std::string_view{*e}.starts_with("OMBRIK_")) envp.push_back(*e);
    }
    for (const auto& [name, value] : env) envp.push_back(name + "=" + value);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    const auto argvPtrs = Pointers(argv);
    const auto envPtrs = Pointers(envp);
    if (posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, argvPtrs.data(), envPtrs.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  void Signal(int signal) { ::kill(pid_, signal); }

  Result Wait() {
    Result r;
    int raw = 0;
    if (pid_ > 0 && ::waitpid(pid_, &raw, 0) == pid_) {
      r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
    pid_ = -1;
    r.out = ReadFile(out_);
    r.err = ReadFile(err_);
    return r;
  }

 private:
  static std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (auto& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
  }

  TempDir io_;
  std::string out_, err_;
  pid_t pid_ = -1;
};

std::string Tone(const std::string& album, int track) { return svc::MakeWavTone(svc::ToneFor(album, track)); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

// A strict reader for the one shape --json writes: a flat object of string, integer and null
// values (a null reads as "null", a string never does here).
std::optional<std::map<std::string, std::string>> ParseFlatJsonObject(const std::string& s) {
  std::size_t i = 0;
  const auto string = [&]() -> std::optional<std::string> {
    if (i >= s.size() || s[i] != '"') return std::nullopt;
    std::string value;
    for (++i; i < s.size() && s[i] != '"'; ++i) {
      const auto byte = static_cast<unsigned char>(s[i]);
      if (byte < 0x20) return std::nullopt;
      if (s[i] != '\\') {
        value += s[i];
        continue;
      }
      if (++i >= s.size()) return std::nullopt;
      const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
      if (const auto k = simple.find(s[i]); k != std::string_view::npos) {
        value += meaning[k];
      } else if (s[i] == 'u' && i + 4 < s.size() && s.compare(i + 1, 2, "00") == 0) {
        value += static_cast<char>(std::stoi(s.substr(i + 3, 2), nullptr, 16));
        i += 4;
      } else {
        return std::nullopt;
      }
    }
    if (i >= s.size()) return std::nullopt;
    ++i;
    return value;
  };
  std::map<std::string, std::string> object;
  if (s.empty() || s[i++] != '{') return std::nullopt;
  while (i < s.size() && s[i] != '}') {
    if (!object.empty() && s[i++] != ',') return std::nullopt;
    const auto key = string();
    if (!key || i >= s.size() || s[i++] != ':') return std::nullopt;
    std::optional<std::string> value;
    if (i < s.size() && s[i] == '"') {
      value = string();
    } else if (s.compare(i, 4, "null") == 0) {
      value = "null";
      i += 4;
    } else {
      const std::size_t start = i;
      while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '-')) ++i;
      if (i > start) value = "#" + s.substr(start, i - start);  // '#' marks a number
    }
    if (!value || object.contains(*key)) return std::nullopt;
    object[*key] = *value;
  }
  if (i + 1 != s.size()) return std::nullopt;
  return object;
}

class Cli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    svc::ServiceOptions options;
    // A path named in heal_ answers its fault once; from then on it serves the tone.
    options.onRequest = [](const svc::RequestRecord& record) {
      std::lock_guard lock(healMutex_);
      if (record.status >= 400 && heal_.erase(record.target) > 0) {
        const auto slash = record.target.rfind('/');
        const std::string album = record.target.substr(record.target.rfind('/', slash - 1) + 1,
                                                       slash - record.target.rfind('/', slash - 1) - 1);
        service_->SetFile(record.target, Tone(album, std::stoi(record.target.substr(slash + 1))));
      }
    };
    service_ = new svc::AlbumService(options);
    trust_ = new TempDir;
    caFile_ = Trust(*service_, *trust_);
  }
  // Writes the service's own certificate where the program can be told to trust it.
  static std::string Trust(const svc::AlbumService& service, const TempDir& dir) {
    const std::string file = dir / ("ca-" + std::to_string(service.Port()) + ".pem");
    WriteFile(file, service.CertificatePem());
    return file;
  }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
    delete trust_;
    trust_ = nullptr;
  }
  void SetUp() override { service_->ClearRequests(); }

  // Runs the program with --api-origin pointing at the service.
  Result Run(std::vector<std::string> args) {
    args.push_back("--api-origin=" + service_->Origin());
    args.push_back("--cacert=" + caFile_);
    return Child(args, dir_.path().string()).Wait();
  }

  std::vector<std::string> FileRequests() const {
    std::vector<std::string> files;
    for (const auto& r : service_->Requests()) {
      if (!r.target.starts_with("/m-revision/")) files.push_back(svc::FormatRequest(r));
    }
    return files;
  }

  static svc::AlbumService* service_;
  static TempDir* trust_;
  static std::string caFile_;
  static std::mutex healMutex_;
  static std::set<std::string> heal_;
  TempDir dir_;
};
svc::AlbumService* Cli::service_ = nullptr;
TempDir* Cli::trust_ = nullptr;
std::string Cli::caFile_;
std::mutex Cli::healMutex_;
std::set<std::string> Cli::heal_;

TEST_F(Cli, ListsTheAlbumInListOrderByteForByte) {
  const Result r = Run({"list", "https://www.ombrik-demo.example/album/1000250?from=share#top"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string expected;
  for (int n = 1; n <= 250; ++n) {
    expected += std::to_string(251 - n) + "\t第" + std::to_string(n) + "首\t" + service_->Origin() + "/audio/1000250/" +
                std::to_string(n) + ".wav\n";
  }
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "音频列表（共250个）:\n");
}

TEST_F(Cli, AwkwardTitlesReadAsTheWindowShowsThemInBothFormats) {
  // As the window shows them: '+' is a space, characters code page 936 lacks are '?'.
  const std::vector<std::string> titles{
      "A B 混音版", "100%纯音乐", "AB", "他说\"你好\"", "??? ??", "? 音符之歌", "上/下：A\\B*C?D<E>F|G", "春　天"};
  // The service's origin from the environment this time.
  const Result tabs = Child({"list", "2000001"}, dir_.path().string(),
                            {{"OMBRIK_API_ORIGIN", service_->Origin()}, {"OMBRIK_CA_FILE", caFile_}})
                          .Wait();
  const Result json = Run({"list", "--json", "2000001"});
  ASSERT_EQ(tabs.status, 0) << tabs.err;
  ASSERT_EQ(json.status, 0) << json.err;
  const auto tabLines = Lines(tabs.out);
  const auto jsonLines = Lines(json.out);
  ASSERT_EQ(tabLines.size(), titles.size());
  ASSERT_EQ(jsonLines.size(), titles.size());
  for (std::size_t i = 0; i < titles.size(); ++i) {
    const std::string number = std::to_string(titles.size() - i);
    const std::string playPath = service_->Origin() + "/audio/2000001/" + std::to_string(i + 1) + ".wav";
    EXPECT_EQ(tabLines[i], number + "\t" + titles[i] + "\t" + playPath);
    const auto object = ParseFlatJsonObject(jsonLines[i]);
    ASSERT_TRUE(object) << jsonLines[i];
    EXPECT_EQ(*object, (std::map<std::string, std::string>{
                           {"number", "#" + number}, {"title", titles[i]}, {"playPath", playPath}}));
  }
}

TEST_F(Cli, GetWritesTheFilesTheWindowWrites) {
  const Result r = Run({"get", "6000004", "-o", "album", "-j", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  TempDir& d = dir_;
  const std::vector<std::string> names{"1曲目4正常.wav", "2曲目3正常.wav", "3曲目2正常.wav", "4曲目1正常.wav"};
  std::vector<std::string> entries;
  for (const auto& e : std::filesystem::directory_iterator(d.path() / "album")) {
    entries.push_back(e.path().filename().string());
  }
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, names);
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(ReadFile((d.path() / "album" / names[4 - n]).string()), Tone("6000004", n)) << names[4 - n];
  }
  // Not a terminal: one plain line per finished track, then the run's report.
  const auto lines = Lines(r.err);
  ASSERT_EQ(lines.size(), 7u) << r.err;
  EXPECT_EQ(lines[0], "音频列表（共4个）:");
  for (int i = 1; i <= 4; ++i) {
    EXPECT_TRUE(lines[i].starts_with("[" + std::to_string(i) + "/4] album/" + names[4 - i] + "  31.3 KiB")) << lines[i];
  }
  EXPECT_EQ(lines[5], "4 项下载完毕");
  EXPECT_EQ(lines[6], "全部完成！");
}

TEST_F(Cli, ExitStatuses) {
  const struct Case {
    std::vector<std::string> args;
    int status;
    std::string errHas;
  } cases[] = {
      {{"list", "1000005"}, 0, "音频列表（共5个）:"},
      {{"get", "1000000"}, 0, "音频列表（共0个）:"},  // an empty album: nothing to fetch
      {{"--version"}, 0, ""},
      {{"get", "6000024"}, 1, "3曲目2不存在.wav  下载失败！ " + service_->Origin() + "/fault/404/6000024/2.wav"},
      {{"list", "3000002"}, 1, "网页Json数据格式不正确！"},               // page 2 is not JSON
      {{"get", "3000003"}, 1, "[150/150] 1  skipped: no file to fetch"},  // 10 listed tracks do not exist
      {{"list", ""}, 2, "专辑链接为空 或 专辑未找到！"},
      {{"get", "///"}, 2, "专辑链接为空 或 专辑未找到！"},
      {{"list", "99999"}, 2, "the service gave no track list for album 99999"},
      {{"list", "4040405"}, 2, "the service gave no track list"},  // data without totalCount
      {{}, 2, "missing command"},
      {{"fetch", "1000005"}, 2, "unknown command"},
      {{"list"}, 2, "missing album link"},
      {{"list", "1", "2"}, 2, "too many arguments"},
      {{"list", "1000005", "--bogus"}, 2, "unknown option"},
      {{"get", "1000005", "--existing", "maybe"}, 2, "--existing takes"},
      {{"get", "1000005", "--retries", "-1"}, 2, "--retries takes"},
      {{"list", "1000005", "-o", "x"}, 2, "belong to get"},
      {{"get", "1000005", "-j", "17"}, 2, "--jobs takes"},
      {{"list", "1000005", "--no-continue"}, 2, "belong to get"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
  }
  // An unreachable service; a scheme other than http and https is refused before any request.
  Result r = Child({"list", "1000005", "--api-origin", "http://127.0.0.1:1"}, dir_.path().string()).Wait();
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("网页Json数据格式不正确！  (connection refused)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("no track list for album 1000005: connection refused"), std::string::npos) << r.err;
  r = Child({"list", "1000005", "--api-origin", "file:///etc"}, dir_.path().string()).Wait();
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
}

TEST_F(Cli, CertificatesAreCheckedUnlessTrustedOrTurnedOff) {
  const std::string origin = "--api-origin=" + service_->Origin();
  Result r = Child({"list", "1000005", origin}, dir_.path().string()).Wait();
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no track list for album 1000005: certificate not trusted"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("网页Json数据格式不正确！  (certificate not trusted)"), std::string::npos) << r.err;
  EXPECT_EQ(Child({"list", "1000005", origin, "--cacert", caFile_}, dir_.path().string()).Wait().status, 0);
  EXPECT_EQ(Child({"list", "1000005", origin}, dir_.path().string(), {{"OMBRIK_CA_FILE", caFile_}}).Wait().status, 0);
  EXPECT_EQ(Child({"list", "1000005", origin, "--insecure"}, dir_.path().string()).Wait().status, 0);
  EXPECT_EQ(Child({"list", "1000005", origin}, dir_.path().string(), {{"OMBRIK_INSECURE", "1"}}).Wait().status, 0);
}

TEST_F(Cli, HelpAndVersionGoToStandardOutput) {
  Result r = Run({"--version"});
  EXPECT_EQ(r.out, "Ombrik 1.0.0.0\n");
  r = Run({"get", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.starts_with("Usage: ombrik-cli list LINK")) << r.out;
  EXPECT_NE(r.out.find("Exit status:"), std::string::npos);
  EXPECT_EQ(r.err, "");
}

TEST_F(Cli, ExistingFilesAreKeptOrGivenNumberedNames) {
  ASSERT_EQ(Run({"get", "6000004"}).status, 0);
  for (const auto& name : dir_.Entries()) WriteFile(dir_ / name, "old");
  service_->ClearRequests();

  Result r = Run({"get", "6000004", "--existing", "keep"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FileRequests(), std::vector<std::string>{});  // nothing fetched
  EXPECT_NE(r.err.find("[2/4] ./3曲目2正常.wav  kept (already there)"), std::string::npos) << r.err;
  for (const auto& name : dir_.Entries()) EXPECT_EQ(ReadFile(dir_ / name), "old") << name;

  r = Run({"get", "6000004", "--existing", "number"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir_ / "1曲目4正常.wav"), "old");
  EXPECT_EQ(ReadFile(dir_ / "1曲目4正常(1).wav"), Tone("6000004", 4));
  EXPECT_EQ(dir_.Entries().size(), 8u);
}

TEST_F(Cli, ANotFoundTrackIsNeverRetriedAndSaysWhy) {
  // The path would heal if asked again, but a 404 is no failure that heals by itself.
  const std::string path = "/fault/404/6000024/2.wav";
  {
    std::lock_guard lock(healMutex_);
    heal_.insert(path);
  }
  service_->ResetFile(path);
  const Result r = Run({"get", "6000024", "--retries", "3", "-j", "1"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(FileRequests(), (std::vector<std::string>{"GET /audio/6000024/1.wav 200", "GET " + path + " 404",
                                                      "GET /audio/6000024/3.wav 200", "GET /audio/6000024/4.wav 200"}));
  EXPECT_NE(r.err.find("3曲目2不存在.wav  下载失败！ " + service_->Origin() + path + "  (HTTP 404)"), std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "3曲目2不存在.wav"));
  service_->ResetFile(path);
}

TEST_F(Cli, AStopSignalMidFileLeavesNoPartialFileAndTriesNoMoreTracks) {
  // Album 6000099: track 8 (list number 2) stalls after its headers, track 9 comes after it.
  const std::string stalled = "2曲目8 停滞.wav";
  for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
    SCOPED_TRACE(signal);
    WriteFile(dir_ / stalled, "the old file");
    service_->ClearRequests();
    Child child(
        {"get", "6000099", "-j", "1", "--retries", "0", "--api-origin", service_->Origin(), "--cacert", caFile_},
        dir_.path().string());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const auto stallStarted = [] {
      for (const auto& r : service_->Requests()) {
        if (r.target == "/fault/stall/6000099/8.wav") return true;
      }
      return false;
    };
    while (!stallStarted() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(stallStarted());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the transfer is waiting now
    child.Signal(signal);
    const Result r = child.Wait();
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_EQ(ReadFile(dir_ / stalled), "the old file");
    for (const auto& name : dir_.Entries()) EXPECT_FALSE(name.ends_with(".part")) << name;
    for (const auto& request : FileRequests()) EXPECT_EQ(request.find("/9.wav"), std::string::npos) << request;
    EXPECT_EQ(r.err.find(stalled + "  下载失败"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("全部完成"), std::string::npos) << r.err;
  }
}

TEST_F(Cli, AKilledDownloadIsContinuedWhereItStopped) {
  // A slow service, so that the first run can be killed with a track half written.
  svc::ServiceOptions slow;
  slow.fileBytesPerSecond = 16 * 1024;
  svc::AlbumService service(slow);
  const std::vector<std::string> args{"get",          "6000004",        "-j",       "1",
                                      "--api-origin", service.Origin(), "--cacert", Trust(service, *trust_)};
  const std::string first = "/audio/6000004/1.wav";
  const auto sentOfFirst = [&service, &first] {
    std::uint64_t sent = 0;
    for (const auto& r : service.Requests()) {
      if (r.target == first) sent = r.bytesSent;
    }
    return sent;
  };
  {
    Child child(args, dir_.path().string());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (sentOfFirst() < 8 * 1024 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    child.Signal(SIGKILL);
    EXPECT_EQ(child.Wait().status, 128 + SIGKILL);
  }
  const std::string name = "4曲目1正常.wav";
  const std::string tone = Tone("6000004", 1);
  const std::string part = ReadFile(dir_ / (name + ".part"));
  ASSERT_GE(part.size(), 1024u);
  ASSERT_LT(part.size(), tone.size());
  EXPECT_EQ(part, tone.substr(0, part.size()));
  EXPECT_FALSE(std::filesystem::exists(dir_ / name));

  service.ClearRequests();
  const Result r = Child(args, dir_.path().string()).Wait();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir_ / name), tone);
  // Only the missing bytes were asked for, and only they came.
  const auto requests = service.Requests();
  const auto resumed =
      std::find_if(requests.begin(), requests.end(), [&first](const auto& q) { return q.target == first; });
  ASSERT_NE(resumed, requests.end());
  EXPECT_EQ(resumed->range, "bytes=" + std::to_string(part.size()) + "-");
  EXPECT_EQ(resumed->status, 206);
  EXPECT_EQ(resumed->bytesSent, tone.size() - part.size());
  EXPECT_NE(r.err.find("[1/4] ./" + name + "  31.3 KiB"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(resumed at "), std::string::npos) << r.err;
  for (const auto& entry : dir_.Entries()) EXPECT_FALSE(entry.ends_with(".part")) << entry;
}

TEST_F(Cli, JobsRunTransfersAtOnce) {
  // Every file answer waits a second: transfers that run at once wait together.
  svc::ServiceOptions delayed;
  delayed.fileDelay = std::chrono::milliseconds(1000);
  svc::AlbumService service(delayed);
  for (const int jobs : {1, 3}) {
    SCOPED_TRACE(jobs);
    TempDir out;
    Child child({"get", "6000004", "-j", std::to_string(jobs), "--api-origin", service.Origin(), "--cacert",
                 Trust(service, *trust_)},
                out.path().string());
    int most = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (out.Entries().size() < 4 && std::chrono::steady_clock::now() < deadline) {
      most = std::max(most, service.DelayedAnswers());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const Result r = child.Wait();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(most, jobs);
    EXPECT_EQ(out.Entries().size(), 4u);
  }
}

TEST_F(Cli, RetriesWaitAsAskedAndEveryFailureSaysWhy) {
  // Album 6000105: 6 answers 429 with Retry-After: 1 once, 8 answers 503 once, 9 always asks to
  // come back in an hour.
  service_->ResetFetchCounts();
  const Result r = Run({"get", "6000105", "--items", "6,8-9", "--retries", "2", "--json"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("retry 1 in 1.0 s: HTTP 429"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(": HTTP 503"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("下载失败！ " + service_->Origin() +
                       "/fault/retry-long/6000105/9.wav  (HTTP 429, asked to retry after 3600 s)"),
            std::string::npos)
      << r.err;
  std::map<std::string, std::map<std::string, std::string>> byOutcome;
  for (const auto& line : Lines(r.out)) {
    const auto object = ParseFlatJsonObject(line);
    ASSERT_TRUE(object) << line;
    byOutcome[object->at("title")] = *object;
  }
  ASSERT_EQ(byOutcome.size(), 3u) << r.out;
  for (const auto& [title, object] : byOutcome) {
    SCOPED_TRACE(title);
    const bool failed = title.starts_with("曲目9");
    EXPECT_EQ(object.at("outcome"), failed ? "failed" : "fetched");
    EXPECT_EQ(object.at("reason"), failed ? "HTTP 429, asked to retry after 3600 s" : "null");
    if (!failed) {
      EXPECT_EQ(object.at("bytes"), "#" + std::to_string(ReadFile((dir_.path() / object.at("path")).string()).size()));
    }
  }
  const auto requests = FileRequests();
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                          [](const auto& q) { return q.find("/9.wav") != std::string::npos; }),
            1);
}

TEST_F(Cli, ItemsPickTracksByPosition) {
  const struct Case {
    std::string items;
    std::vector<std::string> numbers;  // as listed; empty with status 2 for a usage error
  } cases[] = {
      {"1", {"5"}},       {"2-3,5", {"4", "3", "1"}},
      {"4-", {"2", "1"}}, {"3-3,1-1", {"5", "3"}},  // list order, whatever the order asked
      {"9-", {}},                                   // past the end: nothing
      {"", {}},           {"0", {}},
      {"3-1", {}},        {"1,", {}},
      {",1", {}},         {"a", {}},
      {"-3", {}},         {"1-2-3", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.items);
    const Result r = Run({"list", "1000005", "--items", c.items});
    const bool usage = c.numbers.empty() && c.items != "9-";
    EXPECT_EQ(r.status, usage ? 2 : 0) << r.err;
    if (usage) {
      EXPECT_NE(r.err.find("--items takes"), std::string::npos) << r.err;
      continue;
    }
    std::vector<std::string> numbers;
    for (const auto& line : Lines(r.out)) numbers.push_back(line.substr(0, line.find('\t')));
    EXPECT_EQ(numbers, c.numbers);
  }
  // get fetches only those, and succeeds when they all arrive.
  const Result r = Run({"get", "6000024", "--items", "1,3-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"1曲目4正常.wav", "2曲目3正常.wav", "4曲目1正常.wav"}));
}

}  // namespace
}  // namespace ombrik
