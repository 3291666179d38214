// The ombrik-album-service program, run as a child process.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

class ServiceProcess {
 public:
  explicit ServiceProcess(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    static int serial = 0;
    errPath_ =
        testing::TempDir() + "album_service_" + std::to_string(getpid()) + "_" + std::to_string(++serial) + ".err";
    // Everything is prepared before the fork: the child only redirects and execs, since a
    // copy of this threaded process may inherit locks that no thread will release.
    std::vector<char*> argv{const_cast<char*>(OMBRIK_ALBUM_SERVICE_EXE)};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      const int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(err, STDERR_FILENO);
      close(out[0]);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = fdopen(out[0], "r");
  }
  ~ServiceProcess() {
    if (pid_ > 0 && !waited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_) fclose(out_);
    std::remove(errPath_.c_str());
  }

  // The next line of standard output without its newline; empty at the end.
  std::string ReadLine() {
    char line[256];
    if (!fgets(line, sizeof line, out_)) return {};
    std::string text = line;
    if (text.ends_with('\n')) text.pop_back();
    return text;
  }

  // Sends the signal and returns the wait status.
  int StopWith(int signal) {
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    waited_ = true;
    return status;
  }

  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    waited_ = true;
    return status;
  }

  std::string Stderr() const {
    std::ifstream in(errPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  std::string errPath_;
  bool waited_ = false;
};

constexpr const char* kProbe =
    "/m-revision/common/album/queryAlbumTrackRecordsByPage?albumId=3921767&page=1&pageSize=2&asc=true";

TEST(AlbumServiceProgram, ServesBothSchemesLogsAndStopsOnSignals) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    ServiceProcess service({});
    const std::string https = service.ReadLine();
    const std::string http = service.ReadLine();
    ASSERT_TRUE(https.starts_with("https://127.0.0.1:")) << https;
    ASSERT_TRUE(http.starts_with("http://127.0.0.1:")) << http;

    for (const std::string& origin : {https, http}) {
      httplib::Client client(origin);
      client.enable_server_certificate_verification(false);
      const auto page = client.Get(kProbe);
      ASSERT_TRUE(page) << origin;
      EXPECT_NE(page->body.find("\"playPath\":\"" + origin + "/audio/3921767/1.wav\""), std::string::npos);
    }

    const int status = service.StopWith(signal);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(service.Stderr(), std::string{"GET "} + kProbe + " 200\nGET " + kProbe + " 200\n");
  }
}

TEST(AlbumServiceProgram, HonoursPortAndOptionsAndRefusesBadOnes) {
  ServiceProcess first({"--only", "http", "--quiet"});
  const std::string origin = first.ReadLine();
  const std::string port = origin.substr(origin.rfind(':') + 1);

  // The port is taken now, so a second service asking for it fails.
  ServiceProcess second({"--only", "http", "--port", port});
  ASSERT_EQ(second.ReadLine(), "");
  const int busy = second.Wait();
  EXPECT_TRUE(WIFEXITED(busy) && WEXITSTATUS(busy) == 1);
  EXPECT_NE(second.Stderr().find("cannot listen"), std::string::npos);

  EXPECT_EQ(first.StopWith(SIGTERM), 0);
  EXPECT_EQ(first.Stderr(), "");

  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--port", "x"},
                                              {"--host", "0.0.0.0"},
                                              {"--only", "ftp"},
                                              {"--delay-ms"},
                                              {"--frobnicate", "1"},
                                              {"--file-rate", "-1"},
                                              {"--file-delay-ms", "soon"},
                                              {"--answer-delay-ms", "1.5"}}) {
    ServiceProcess refused(bad);
    const int status = refused.Wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0) << bad[0];
  }
}

TEST(AlbumServiceProgram, DelaysAndPacesAnswersAsAsked) {
  ServiceProcess service(
      {"--only", "http", "--quiet", "--answer-delay-ms", "300", "--file-delay-ms", "300", "--file-rate", "32000"});
  httplib::Client client(service.ReadLine());
  // Lower bounds only: a busy machine may be slower, never faster.
  const auto timed = [&](const char* target, std::chrono::milliseconds atLeast) {
    const auto start = std::chrono::steady_clock::now();
    const auto answer = client.Get(target);
    ASSERT_TRUE(answer) << target;
    EXPECT_EQ(answer->status, 200) << target;
    EXPECT_GE(std::chrono::steady_clock::now() - start, atLeast) << target;
  };
  timed(kProbe, 300ms);
  timed("/audio/6000004/1.wav", 300ms + 1000ms);  // 32044 bytes at 32000 a second
  EXPECT_EQ(service.StopWith(SIGTERM), 0);
}

}  // namespace
