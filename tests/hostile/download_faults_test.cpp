// Transfer and disk faults in the middle of a download run: the track fails with the run's
// message, no partial file is left, an existing file keeps its bytes, the next track proceeds.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/track_arrays.h"
#include "download/download_run.h"
#include "recording_window.h"
#include "temp_dir.h"
#include "testsupport/loopback_server.h"
#include "text/text_ops.h"
#include "web/network_wait.h"

namespace ombrik {
namespace {

using testing::ReadFile;
using testing::RecordingWindow;
using testing::TempDir;
using testing::WriteFile;

const std::string kTone(4096, 't');

// A raw TCP listener on loopback for answers no HTTP server library would give.
class RawServer {
 public:
  explicit RawServer(std::function<void(int fd)> serve) : serve_(std::move(serve)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 8);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        const int client = ::accept(fd_, nullptr, nullptr);
        if (client < 0 || stop_) {
          if (client >= 0) ::close(client);
          return;
        }
        serve_(client);
      }
    });
  }
  ~RawServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  std::function<void(int)> serve_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

void ReadRequest(int fd) {
  char buf[4096];
  std::string got;
  while (got.find("\r\n\r\n") == std::string::npos) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return;
    got.append(buf, static_cast<std::size_t>(n));
  }
}

// Half a body, then a TCP reset instead of an orderly close.
void ResetMidBody(int fd) {
  ReadRequest(fd);
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
  ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
  const std::string half(50000, 'r');
  ::send(fd, half.data(), half.size(), MSG_NOSIGNAL);
  linger hard{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(fd);
}

// A window that lets a test change the world between two tracks: `afterTrack` runs when the
// run reports a finished track, `afterFailure` when it shows a failure box.
class HookedWindow : public RecordingWindow {
 public:
  std::function<void()> afterTrack;
  std::function<void()> afterFailure;
  void SetStatusText(const Text& text) override {
    RecordingWindow::SetStatusText(text);
    if (afterTrack && TextStartsWith(text, "正在下载 "_t)) afterTrack();
  }
  void ShowMessage(const Text& text, const Text& title, MessageIcon icon) override {
    RecordingWindow::ShowMessage(text, title, icon);
    if (afterFailure && icon == MessageIcon::Error) afterFailure();
  }
};

class DownloadFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ReleaseTrackArrays();
    server_.server().Get("/tone.wav",
                         [](const httplib::Request&, httplib::Response& res) { res.set_content(kTone, "audio/wav"); });
    server_.server().Get("/big.wav", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(512 * 1024, 'b'), "audio/wav");
    });
    server_.server().Get("/loop.wav",
                         [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop.wav"); });
    server_.server().Get("/to-file.wav", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("file:///etc/hostname");
    });
    // One byte a second, for as long as the client listens.
    server_.server().Get("/drip.wav", [](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(30, "audio/wav", [](std::size_t, std::size_t, httplib::DataSink& sink) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return sink.write("d", 1);
      });
    });
    // Slow but steady: finishes inside one stall period.
    server_.server().Get("/slow.wav", [](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(kTone.size(), "audio/wav", [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return sink.write(kTone.data() + offset, std::min<std::size_t>(1024, kTone.size() - offset));
      });
    });
    server_.Start();
  }
  void TearDown() override { ReleaseTrackArrays(); }

  // Three seconds to connect, two without a byte.
  static DownloadRunOptions Options() {
    DownloadRunOptions options;
    options.fetch.network.connectTimeout = std::chrono::milliseconds(3000);
    options.fetch.network.stallTimeout = std::chrono::milliseconds(2000);
    return options;
  }

  // Lists the tracks as the extraction would: numbered downward, title "t<number>".
  static void List(HookedWindow& window, const std::vector<std::string>& urls) {
    const int n = static_cast<int>(urls.size());
    for (int i = 0; i < n; ++i) {
      const Text number = IntToText(n - i);
      TrackTitles.Append("t");
      TrackPlayPaths.Append(Text(urls[static_cast<std::size_t>(i)]));
      const int row = window.InsertRow(number);
      window.SetCell(row, 1, "t");
      window.SetCell(row, 2, Text(urls[static_cast<std::size_t>(i)]));
    }
  }

  static std::set<std::string> Entries(const std::filesystem::path& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
  }

  std::string Url(const std::string& path) const { return server_.BaseUrl() + path; }

  testsupport::LoopbackServer server_;
  TempDir dir_;
};

// Each fault sits between two good tracks and over a file the user already has.
TEST_F(DownloadFaults, TransferFaultsFailTheTrackAndKeepTheOldFile) {
  RawServer reset(ResetMidBody);
  const std::string tlsToPlain =
      "https://127.0.0.1:" + server_.BaseUrl().substr(server_.BaseUrl().rfind(':') + 1) + "/tone.wav";
  struct Case {
    const char* what;
    std::string url;
  } cases[] = {
      {"reset mid-body", reset.Url("/reset.wav")}, {"TLS handshake with a plain HTTP server", tlsToPlain},
      {"redirect loop", Url("/loop.wav")},         {"redirect to a local file", Url("/to-file.wav")},
      {"one byte a second", Url("/drip.wav")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReleaseTrackArrays();
    HookedWindow w;
    List(w, {Url("/tone.wav"), c.url, Url("/tone.wav")});
    w.edits[Control::编辑框_下载目录] = Text(dir_.path().string());
    std::filesystem::remove_all(dir_.path());
    std::filesystem::create_directory(dir_.path());
    WriteFile(dir_ / "2t.wav", "the user's file");
    const auto started = std::chrono::steady_clock::now();
    OnDownloadAll(w, Options());
    const auto took = std::chrono::steady_clock::now() - started;

    EXPECT_EQ(Entries(dir_.path()), (std::set<std::string>{"1t.wav", "2t.wav", "3t.wav"}));
    EXPECT_EQ(ReadFile(dir_ / "2t.wav"), "the user's file");
    EXPECT_EQ(ReadFile(dir_ / "1t.wav"), kTone);
    EXPECT_EQ(ReadFile(dir_ / "3t.wav"), kTone);
    ASSERT_EQ(w.messages.size(), 2u);
    EXPECT_EQ(w.messages[0].text, dir_.path().string() + "/2t.wav  下载失败！\r\n" + c.url);
    EXPECT_EQ(w.messages[1].text, "全部完成！");
    EXPECT_EQ(TextToUtf8(w.status), "  2 项下载完毕");
    // Within a couple of stall periods, not the drip's 30 s.
    EXPECT_LT(took, std::chrono::seconds(10));
  }

  // A slow server that keeps moving is no fault.
  ReleaseTrackArrays();
  HookedWindow w;
  List(w, {Url("/slow.wav")});
  w.edits[Control::编辑框_下载目录] = Text(dir_.path().string());
  OnDownloadAll(w, Options());
  EXPECT_EQ(ReadFile(dir_ / "1t.wav"), kTone);
}

// A small file system of its own, for faults that need the disk itself to change.
class SmallDisk {
 public:
  SmallDisk(const std::filesystem::path& at, const char* size) : at_(at) {
    std::filesystem::create_directory(at_);
    const std::string options = std::string("size=") + size;
    mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  bool SetReadOnly(bool readOnly) {
    return ::mount("tmpfs", at_.c_str(), "tmpfs", MS_REMOUNT | (readOnly ? MS_RDONLY : 0), nullptr) == 0;
  }

 private:
  std::filesystem::path at_;
  bool mounted_ = false;
};

TEST_F(DownloadFaults, AFullDiskFailsTheTrackAndTheNextOneStillFits) {
  const std::filesystem::path music = dir_.path() / "music";
  SmallDisk disk(music, "256k");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);
  HookedWindow w;
  List(w, {Url("/big.wav"), Url("/tone.wav")});
  WriteFile((music / "2t.wav").string(), "the user's file");
  w.edits[Control::编辑框_下载目录] = Text(music.string());
  OnDownloadAll(w, Options());
  EXPECT_EQ(Entries(music), (std::set<std::string>{"1t.wav", "2t.wav"}));
  EXPECT_EQ(ReadFile((music / "2t.wav").string()), "the user's file");
  EXPECT_EQ(ReadFile((music / "1t.wav").string()), kTone);
  ASSERT_EQ(w.messages.size(), 2u);
  EXPECT_EQ(w.messages[0].text, music.string() + "/2t.wav  下载失败！\r\n" + Url("/big.wav"));
}

TEST_F(DownloadFaults, AFolderMadeReadOnlyDuringTheRun) {
  const std::filesystem::path music = dir_.path() / "music";
  SmallDisk disk(music, "4m");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);
  HookedWindow w;
  List(w, {Url("/tone.wav"), Url("/tone.wav"), Url("/tone.wav")});
  WriteFile((music / "2t.wav").string(), "the user's file");
  w.edits[Control::编辑框_下载目录] = Text(music.string());
  // Read-only after the first track; writable again once the second one has failed.
  w.afterTrack = [&] {
    if (w.statusHistory.size() == 1) {
      ASSERT_TRUE(disk.SetReadOnly(true));
    }
  };
  w.afterFailure = [&] { ASSERT_TRUE(disk.SetReadOnly(false)); };
  OnDownloadAll(w, Options());
  EXPECT_EQ(Entries(music), (std::set<std::string>{"1t.wav", "2t.wav", "3t.wav"}));
  EXPECT_EQ(ReadFile((music / "2t.wav").string()), "the user's file");
  EXPECT_EQ(ReadFile((music / "1t.wav").string()), kTone);
  ASSERT_EQ(w.messages.size(), 2u);
  EXPECT_EQ(w.messages[0].text, music.string() + "/2t.wav  下载失败！\r\n" + Url("/tone.wav"));
  EXPECT_EQ(TextToUtf8(w.status), "  2 项下载完毕");
}

TEST_F(DownloadFaults, ATargetReplacedByAFolderBetweenTwoTracks) {
  HookedWindow w;
  List(w, {Url("/tone.wav"), Url("/tone.wav"), Url("/tone.wav")});
  w.edits[Control::编辑框_下载目录] = Text(dir_.path().string());
  w.afterTrack = [&] {
    if (w.statusHistory.size() == 1) {
      std::filesystem::create_directory(dir_ / "2t.wav");
      WriteFile(dir_ / "2t.wav/inside", "kept");
    }
  };
  OnDownloadAll(w, Options());
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "2t.wav"));
  EXPECT_EQ(ReadFile(dir_ / "2t.wav/inside"), "kept");
  EXPECT_EQ(Entries(dir_.path()), (std::set<std::string>{"1t.wav", "2t.wav", "3t.wav"}));
  EXPECT_EQ(ReadFile(dir_ / "3t.wav"), kTone);
  ASSERT_EQ(w.messages.size(), 2u);
  EXPECT_EQ(w.messages[0].text, dir_.path().string() + "/2t.wav  下载失败！\r\n" + Url("/tone.wav"));
}

}  // namespace
}  // namespace ombrik
