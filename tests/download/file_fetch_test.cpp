#include "download/file_fetch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "album_service/album_service.h"
#include "album_service/albums.h"
#include "album_service/wav_tone.h"
#include "temp_dir.h"
#include "text/text_ops.h"
#include "web/network_wait.h"

extern char** environ;

namespace ombrik {
namespace {

namespace svc = albumservice;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Services over both schemes for the whole suite; stalls end within a second.
class FileFetch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    https_ = new svc::AlbumService(svc::ServiceOptions{});
    svc::ServiceOptions plain;
    plain.scheme = svc::Scheme::Http;
    http_ = new svc::AlbumService(plain);
  }
  static void TearDownTestSuite() {
    delete https_;
    delete http_;
  }
  void SetUp() override { https_->ClearRequests(); }

  // Trusts the HTTPS service's own certificate; stalls end within a second.
  static FetchSettings Settings() {
    FetchSettings settings;
    settings.network.caPem = https_->CertificatePem();
    settings.network.connectTimeout = std::chrono::milliseconds(5000);
    settings.network.stallTimeout = std::chrono::milliseconds(1000);
    return settings;
  }

  static std::string Url(const std::string& path) { return https_->Origin() + path; }
  static bool Download(const std::string& url, const std::string& path,
                       ExistingFileMode mode = ExistingFileMode::ReplaceExisting) {
    return FetchFile(TextFromUtf8(url), TextFromUtf8(path), mode, Settings()).outcome != TrackOutcome::Failed;
  }

  static svc::AlbumService* https_;
  static svc::AlbumService* http_;
  TempDir dir_;
};
svc::AlbumService* FileFetch::https_ = nullptr;
svc::AlbumService* FileFetch::http_ = nullptr;

TEST_F(FileFetch, WritesTheServedBytesAndFetchesAgainEveryTime) {
  const std::string path = "/audio/6000004/1.wav";
  https_->SetFile(path, "first version");
  ASSERT_TRUE(Download(Url(path), dir_ / "a.wav"));
  EXPECT_EQ(ReadFile(dir_ / "a.wav"), "first version");
  https_->SetFile(path, "second version");  // no cache stands between us and the server
  ASSERT_TRUE(Download(Url(path), dir_ / "a.wav"));
  EXPECT_EQ(ReadFile(dir_ / "a.wav"), "second version");
  https_->ResetFile(path);
  EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"a.wav"});

  // Redirects are followed; a real tone arrives whole.
  ASSERT_TRUE(Download(Url("/fault/redirect/6000099/2.wav"), dir_ / "b.wav"));
  const std::string wav = ReadFile(dir_ / "b.wav");
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_GT(wav.size(), 1000u);
}

TEST_F(FileFetch, FailuresLeaveNoPartialFileAndTheOldFileIntact) {
  const char* faults[] = {"/fault/404/6000099/3.wav",          "/fault/500/6000099/4.wav",
                          "/fault/drop/6000099/5.wav",         "/fault/short/6000099/6.wav",
                          "/fault/chunked-drop/6000099/7.wav", "/fault/stall/6000099/8.wav"};
  for (const char* fault : faults) {
    SCOPED_TRACE(fault);
    WriteFile(dir_ / "old.wav", "the user's file");
    EXPECT_FALSE(Download(Url(fault), dir_ / "old.wav"));
    EXPECT_EQ(ReadFile(dir_ / "old.wav"), "the user's file");
    EXPECT_FALSE(Download(Url(fault), dir_ / "new.wav"));
    EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"old.wav"});
  }
}

TEST_F(FileFetch, ExistingFileModes) {
  const std::string good = Url("/audio/6000004/1.wav");
  WriteFile(dir_ / "a.wav", "old");
  WriteFile(dir_ / "a(1).wav", "old one");
  ASSERT_TRUE(Download(good, dir_ / "a.wav", ExistingFileMode::NumberedName));
  EXPECT_EQ(ReadFile(dir_ / "a.wav"), "old");
  EXPECT_EQ(ReadFile(dir_ / "a(1).wav"), "old one");
  EXPECT_EQ(ReadFile(dir_ / "a(2).wav").substr(0, 4), "RIFF");

  WriteFile(dir_ / "noext", "old");
  ASSERT_TRUE(Download(good, dir_ / "noext", ExistingFileMode::NumberedName));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "noext(1)"));

  for (int k = 1; k <= 99; ++k) WriteFile(dir_ / ("b(" + std::to_string(k) + ").wav"), "taken");
  WriteFile(dir_ / "b.wav", "taken");
  // All 99 numbered names taken: the track fails and nothing is overwritten.
  https_->ClearRequests();
  const TrackReport full =
      FetchFile(TextFromUtf8(good), TextFromUtf8(dir_ / "b.wav"), ExistingFileMode::NumberedName, Settings());
  EXPECT_EQ(full.outcome, TrackOutcome::Failed);
  EXPECT_EQ(full.failure.cause, FailureCause::NoFreeName);
  EXPECT_EQ(ReadFile(dir_ / "b(99).wav"), "taken");
  EXPECT_TRUE(https_->Requests().empty());

  https_->ClearRequests();
  EXPECT_TRUE(Download(good, dir_ / "a.wav", ExistingFileMode::KeepExisting));
  EXPECT_EQ(ReadFile(dir_ / "a.wav"), "old");
  EXPECT_TRUE(Download(Url("/fault/404/6000099/3.wav"), dir_ / "a.wav", ExistingFileMode::KeepExisting));
  EXPECT_TRUE(https_->Requests().empty());

  // A directory in the way cannot be replaced: nothing is fetched.
  std::filesystem::create_directory(dir_ / "d.wav");
  EXPECT_FALSE(Download(good, dir_ / "d.wav"));
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "d.wav"));
  EXPECT_TRUE(https_->Requests().empty());
  ASSERT_TRUE(Download(good, dir_ / "d.wav", ExistingFileMode::NumberedName));
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_ / "d(1).wav"));
}

TEST_F(FileFetch, SchemesAndPaths) {
  // Without "://" the address is fetched over http.
  const std::string bare = http_->Origin().substr(std::string("http://").size()) + "/audio/6000004/2.wav";
  ASSERT_TRUE(Download(bare, dir_ / "bare.wav"));
  EXPECT_EQ(ReadFile(dir_ / "bare.wav").substr(0, 4), "RIFF");
  // No other scheme is ever read, a local file least of all.
  WriteFile(dir_ / "secret", "local data");
  EXPECT_FALSE(Download("file://" + (dir_ / "secret"), dir_ / "copy"));
  EXPECT_FALSE(Download("ftp://127.0.0.1/x", dir_ / "copy"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "copy"));
  // A folder that does not exist.
  EXPECT_FALSE(Download(Url("/audio/6000004/1.wav"), dir_ / "missing/a.wav"));
  // Code page 936 names become UTF-8 on disk.
  ASSERT_TRUE(Download(Url("/audio/6000004/1.wav"), dir_ / "曲目.wav"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "曲目.wav"));
}

TEST_F(FileFetch, AWriteFailureMidTransferKeepsTheOldFile) {
  WriteFile(dir_ / "old.wav", "the user's file");
  // A fresh process with a file-size limit far below the tone's size: the write fails part-way.
  // (A forked copy of this process would inherit the server threads' locks.)
  const std::string trust = dir_ / "ca.pem";
  WriteFile(trust, https_->CertificatePem());
  std::vector<std::string> args{OMBRIK_FETCH_ONCE, Url("/audio/6000004/3.wav"), dir_ / "old.wav", "4096", trust};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t child = -1;
  ASSERT_EQ(posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1) << "the download should have failed";
  EXPECT_EQ(ReadFile(dir_ / "old.wav"), "the user's file");
  // What was written stays for the next try to continue.
  EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"ca.pem", "old.wav", "old.wav.part"}));
  EXPECT_EQ(ReadFile(dir_ / "old.wav.part").size(), 4096u);
}

// What the server does to a first fetch and what a later fetch of the same target must end with.
TEST_F(FileFetch, APartFileIsContinuedOnlyWhileItsVersionHolds) {
  const struct Case {
    const char* mode;
    int version;        // of the tone the finished file must hold
    std::string range;  // the second fetch's first request
    int secondStatus;   // its answer
    bool resumed;       // the finished file continued the part
    int requests;       // of the second fetch
  } cases[] = {
      {"cut", 0, "bytes=HALF-", 206, true, 1},
      {"no-range", 0, "bytes=HALF-", 200, false, 1},   // the server ignores Range: from byte 0
      {"range-416", 0, "bytes=HALF-", 416, false, 2},  // then once more without a range
      {"new-etag", 2, "bytes=HALF-", 200, false, 1},   // If-Range fails: the new version whole
      {"bad-range", 0, "bytes=HALF-", 206, false, 2},  // a Content-Range that does not fit
  };
  https_->ResetFetchCounts();
  int track = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ++track;
    const std::string path = "/fault/" + std::string(c.mode) + "/6000105/" + std::to_string(track) + ".wav";
    const std::string first = svc::MakeWavTone(svc::ToneFor("6000105", track, c.version == 2 ? 1 : 0));
    const std::string half = std::to_string(first.size() / 2);
    WriteFile(dir_ / "t.wav", "the user's file");

    const TrackReport cut =
        FetchFile(TextFromUtf8(Url(path)), TextFromUtf8(dir_ / "t.wav"), ExistingFileMode::ReplaceExisting, Settings());
    EXPECT_EQ(cut.failure.cause, FailureCause::ShortBody);
    EXPECT_EQ(ReadFile(dir_ / "t.wav"), "the user's file");
    EXPECT_EQ(ReadFile(dir_ / "t.wav.part"), first.substr(0, first.size() / 2));

    https_->ClearRequests();
    const TrackReport done =
        FetchFile(TextFromUtf8(Url(path)), TextFromUtf8(dir_ / "t.wav"), ExistingFileMode::ReplaceExisting, Settings());
    EXPECT_EQ(done.outcome, TrackOutcome::Fetched);
    const std::string expected = svc::MakeWavTone(svc::ToneFor("6000105", track, c.version));
    EXPECT_EQ(ReadFile(dir_ / "t.wav"), expected);  // never a splice of two versions
    EXPECT_EQ(done.bytes, static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(done.resumedFrom, c.resumed ? static_cast<std::int64_t>(first.size() / 2) : 0);
    const auto requests = https_->Requests();
    ASSERT_EQ(requests.size(), static_cast<std::size_t>(c.requests));
    std::string range = c.range;
    range.replace(range.find("HALF"), 4, half);
    EXPECT_EQ(requests[0].range, range);
    EXPECT_EQ(requests[0].status, c.secondStatus);
    if (c.requests == 2) {
      EXPECT_EQ(requests[1].range, "");
    }
    EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"t.wav"});
  }
}

TEST_F(FileFetch, RetriesWhatCanHealAndObeysRetryAfter) {
  const auto url = [](int track, const char* mode) {
    return TextFromUtf8(Url("/fault/" + std::string(mode) + "/6000105/" + std::to_string(track) + ".wav"));
  };
  FetchSettings settings = Settings();
  settings.retry.retries = 2;
  settings.retry.firstPause = std::chrono::milliseconds(20);

  // Without retries the server's refusal is the track's failure, with its reason.
  https_->ResetFetchCounts();
  TrackReport r = FetchFile(url(8, "503"), TextFromUtf8(dir_ / "a.wav"), ExistingFileMode::ReplaceExisting, Settings());
  EXPECT_EQ(r.failure.cause, FailureCause::HttpError);
  EXPECT_EQ(Describe(r.failure), "HTTP 503");

  struct Waits : FetchEvents {
    std::optional<FetchJob> job;
    std::vector<std::chrono::milliseconds> pauses;
    TrackReport report;
    std::optional<FetchJob> NextJob() override { return std::exchange(job, std::nullopt); }
    void Waiting(int, int, std::chrono::milliseconds pause, const Failure&) override { pauses.push_back(pause); }
    void Finished(int, const TrackReport& r) override { report = r; }
  };
  const struct Case {
    int track;
    const char* mode;
    TrackOutcome outcome;
    std::vector<std::chrono::milliseconds> pauses;  // 0: the policy's own, whatever the jitter
  } cases[] = {
      {1, "cut", TrackOutcome::Fetched, {std::chrono::milliseconds(0)}},  // the retry continues the part
      {6, "429", TrackOutcome::Fetched, {std::chrono::milliseconds(1000)}},
      {8, "503", TrackOutcome::Fetched, {std::chrono::milliseconds(0)}},
      {9, "retry-long", TrackOutcome::Failed, {}},  // asked to wait an hour: not waited for
  };
  https_->ResetFetchCounts();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    Waits events;
    events.job = FetchJob{url(c.track, c.mode), TextFromUtf8(dir_ / (std::string(c.mode) + ".wav"))};
    FetchFiles(events, settings);
    EXPECT_EQ(events.report.outcome, c.outcome);
    ASSERT_EQ(events.pauses.size(), c.pauses.size());
    for (std::size_t k = 0; k < c.pauses.size(); ++k) {
      if (c.pauses[k].count() > 0) {
        EXPECT_EQ(events.pauses[k], c.pauses[k]);
      } else {
        EXPECT_GE(events.pauses[k].count(), 15);  // 20 ms, give or take a quarter
        EXPECT_LE(events.pauses[k].count(), 25);
      }
    }
    if (c.outcome == TrackOutcome::Fetched) {
      EXPECT_EQ(ReadFile(dir_ / (std::string(c.mode) + ".wav")), svc::MakeWavTone(svc::ToneFor("6000105", c.track)));
    }
  }
  Waits tooLong;
  tooLong.job = FetchJob{url(9, "retry-long"), TextFromUtf8(dir_ / "x.wav")};
  FetchFiles(tooLong, settings);
  EXPECT_EQ(tooLong.report.failure.cause, FailureCause::RetryAfterTooLong);
  EXPECT_EQ(Describe(tooLong.report.failure), "HTTP 429, asked to retry after 3600 s");
  EXPECT_EQ(tooLong.report.tries, 1);
}

TEST_F(FileFetch, TheReasonOfAFailure) {
  const struct Case {
    std::string url;
    std::string reason;
  } cases[] = {
      {Url("/fault/404/6000099/3.wav"), "HTTP 404"},
      {Url("/fault/500/6000099/4.wav"), "HTTP 500"},
      {Url("/fault/drop/6000099/5.wav"), "transfer ended early"},
      {Url("/fault/stall/6000099/8.wav"), "timed out"},
      {"http://127.0.0.1:1/x.wav", "connection refused"},
      {"http://no-such-host.invalid/x.wav", "could not resolve host no-such-host.invalid"},
      {"ftp://127.0.0.1/x.wav", "not an http or https address: ftp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const TrackReport r =
        FetchFile(TextFromUtf8(c.url), TextFromUtf8(dir_ / "a.wav"), ExistingFileMode::ReplaceExisting, Settings());
    EXPECT_EQ(r.outcome, TrackOutcome::Failed);
    EXPECT_EQ(Describe(r.failure), c.reason);
  }
  // The service's certificate is trusted only when the settings say so.
  EXPECT_EQ(Describe(FetchFile(TextFromUtf8(Url("/audio/6000004/1.wav")), TextFromUtf8(dir_ / "a.wav"),
                               ExistingFileMode::ReplaceExisting)
                         .failure),
            "certificate not trusted");
  // A second download of the same file at the same time is refused, not interleaved.
  const std::string target = dir_ / "busy.wav";
  const int fd = ::open((target + ".part").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_EQ(FetchFile(TextFromUtf8(Url("/audio/6000004/1.wav")), TextFromUtf8(target),
                      ExistingFileMode::ReplaceExisting, Settings())
                .failure.cause,
            FailureCause::InUse);
  ::close(fd);
}

}  // namespace
}  // namespace ombrik
