#include "download/file_fetch.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "album_service/album_service.h"
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
  void SetUp() override {
    saved_ = GetNetworkTimeouts();
    SetNetworkTimeouts({std::chrono::milliseconds(5000), std::chrono::milliseconds(1000)});
    https_->ClearRequests();
  }
  void TearDown() override { SetNetworkTimeouts(saved_); }

  static std::string Url(const std::string& path) { return https_->Origin() + path; }
  static bool Download(const std::string& url, const std::string& path,
                       ExistingFileMode mode = ExistingFileMode::ReplaceExisting) {
    return DownloadFile(TextFromUtf8(url), TextFromUtf8(path), mode);
  }

  static svc::AlbumService* https_;
  static svc::AlbumService* http_;
  NetworkTimeouts saved_;
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
  const char* faults[] = {"/fault/404/6000099/3.wav",  "/fault/500/6000099/4.wav",
                          "/fault/drop/6000099/5.wav", "/fault/short/6000099/6.wav",
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
  const TrackReport full = FetchFile(TextFromUtf8(good), TextFromUtf8(dir_ / "b.wav"), ExistingFileMode::NumberedName);
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
  std::vector<std::string> args{OMBRIK_FETCH_ONCE, Url("/audio/6000004/3.wav"), dir_ / "old.wav", "4096"};
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
  EXPECT_EQ(dir_.Entries(), std::vector<std::string>{"old.wav"});
}

}  // namespace
}  // namespace ombrik
