// The application's windowed start-up on an X server of the test's own that resets itself whenever
// its last client leaves (as a server started without -noreset does), with the application as its
// only client. Such a server refuses new clients for a moment after each reset, so an application
// that let go of the display between checking it and opening its window could find no display, or
// no window, on some starts. The server's log shows every connection and by which process.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/foundation/NSBundle.h"
#include "tests/support/PrivateAudioServer.h"
#include "tests/support/PrivateXServer.h"
#include "tests/support/WaitFor.h"

extern char** environ;

namespace {

using testsupport::PrivateXServer;

// The application started on a display, its standard error kept in a file. Its input is the one
// named (by default the demo file, which reaches no audio server).
class App {
 public:
  explicit App(const std::string& display, std::string input = "") {
    const std::string demo = NSBundle::mainBundle().pathForResource("demo", "wav").value_or("");
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string var = *e;
      if (var.rfind("DISPLAY=", 0) == 0 || var.rfind("WAYLAND_DISPLAY=", 0) == 0 || var.rfind("SA_AUDIO_INPUT=", 0) == 0)
        continue;
      env.push_back(var);
    }
    env.push_back("DISPLAY=" + display);
    env.push_back("SA_AUDIO_INPUT=" + (input.empty() ? "file:" + demo : input));
    env.push_back("SDL_VIDEODRIVER=x11");
    std::vector<char*> envp;
    for (auto& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    char path[] = "/tmp/sa-startup-stderr-XXXXXX";
    const int fd = ::mkstemp(path);
    errPath_ = path;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (fd >= 0) posix_spawn_file_actions_adddup2(&actions, fd, 2);
    std::string binary = SA_APP_BINARY;
    char* argv[] = {binary.data(), nullptr};
    if (posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (fd >= 0) ::close(fd);
  }
  ~App() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::remove(errPath_.c_str());
  }
  pid_t pid() const { return pid_; }
  bool hasExited() {
    if (!exited_ && pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
    return exited_;
  }
  // Its exit status once it has ended by itself (-1 while it runs, or when a signal ended it).
  int exitStatus() { return hasExited() && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }
  // Asks it to end as the desktop's close does (SDL turns the signal into a quit event).
  bool stop() {
    ::kill(pid_, SIGTERM);
    if (!testsupport::waitPolling([&] { return hasExited(); }, 60, 0.05)) return false;
    return WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
  }
  std::string errors() const {
    std::ifstream in(errPath_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool exited_ = false;
  std::string errPath_;
};

// The connections the process made to the server.
std::vector<PrivateXServer::Connection> connectionsOf(const PrivateXServer& x, pid_t pid) {
  std::vector<PrivateXServer::Connection> out;
  for (const auto& c : x.connections())
    if (c.pid == pid) out.push_back(c);
  return out;
}

// The windows of the process on the display (xdotool connects for a moment to ask).
bool hasWindow(const std::string& display, pid_t pid) {
  const std::string command = "DISPLAY=" + display + " xdotool search --pid " + std::to_string(pid) + " 2>/dev/null";
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, p)) out += buffer;
    pclose(p);
  }
  return !out.empty();
}

// Every start shows the window, on the connection that start-up opened to check the display and
// kept: no connection of the application ends before it does. Each start gets a new server, so the
// application is its first and only client (apart from the test's short look for the window,
// which waits until the application is connected).
TEST(WindowedStartUp, TheWindowOpensOnTheOneDisplayConnectionOnAServerThatResetsWhenItsLastClientLeaves) {
  constexpr int kStarts = 4;
  for (int start = 1; start <= kStarts; ++start) {
    SCOPED_TRACE("start " + std::to_string(start));
    PrivateXServer x({.width = 1280, .height = 1024, .resetWhenLastClientLeaves = true});
    ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
    App app(x.display());
    ASSERT_GT(app.pid(), 0);
    auto connected = [&] { return app.hasExited() || !connectionsOf(x, app.pid()).empty(); };
    ASSERT_TRUE(testsupport::waitPolling(connected, 60, 0.05))
        << "the application never connected";
    auto shown = [&] { return app.hasExited() || hasWindow(x.display(), app.pid()); };
    ASSERT_TRUE(testsupport::waitPolling(shown, 60, 0.1))
        << "no window appeared";
    ASSERT_FALSE(app.hasExited()) << "the application ended without a window:\n" << app.errors();
    const auto connections = connectionsOf(x, app.pid());
    ASSERT_FALSE(connections.empty());
    for (const auto& c : connections) {
      EXPECT_FALSE(c.closed) << "client " << c.client << " of the application left before the window was shown: "
                             << "on a server with no other client that is a reset";
    }
    EXPECT_TRUE(app.stop()) << app.errors();
  }
}

// A source of the audio server named as the input (SA_AUDIO_INPUT) is judged before any window:
// one the server does not have ends start-up with a message that names it and the sources the
// server has; one it has opens the window; and a server that does not answer (its process stopped,
// its socket open) delays the window by a moment only, the chart then saying what is missing.
TEST(WindowedStartUp, ASourceTheAudioServerDoesNotHaveEndsStartUpWithTheNamesItHas) {
  if (!testsupport::PrivateAudioServer::available()) GTEST_SKIP() << "pulseaudio is not installed";
  testsupport::PrivateAudioServer audio("startup_sink");  // this process's and its children's server
  std::string error;
  ASSERT_TRUE(audio.start(&error)) << error;
  PrivateXServer x({.width = 1280, .height = 1024});
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
  // Whether start-up came to an end: the application ended, or showed its window.
  auto cameToAnEnd = [&](App& app) {
    return testsupport::waitPolling([&] { return app.hasExited() || hasWindow(x.display(), app.pid()); }, 60, 0.05);
  };
  {
    SCOPED_TRACE("a source the server does not have");
    App app(x.display(), "pulse:nosuch");
    ASSERT_GT(app.pid(), 0);
    ASSERT_TRUE(cameToAnEnd(app));
    ASSERT_TRUE(app.hasExited()) << "a window instead:\n" << app.errors();
    EXPECT_EQ(app.exitStatus(), 1);
    EXPECT_NE(app.errors().find("spectrum-analyser: cannot use the audio input: no audio source \"nosuch\" on the "
                                "audio server ('!dev'); its sources: startup_sink.monitor\n"),
              std::string::npos)
        << app.errors();
  }
  {
    SCOPED_TRACE("a source the server has");
    App app(x.display(), "pulse:startup_sink.monitor");
    ASSERT_GT(app.pid(), 0);
    ASSERT_TRUE(cameToAnEnd(app));
    ASSERT_FALSE(app.hasExited()) << app.errors();
    EXPECT_TRUE(app.stop()) << app.errors();
  }
  {
    SCOPED_TRACE("a server that does not answer");
    audio.freeze();
    App app(x.display(), "pulse:nosuch");
    ASSERT_GT(app.pid(), 0);
    const bool shown = cameToAnEnd(app);
    audio.thaw();
    ASSERT_TRUE(shown);
    ASSERT_FALSE(app.hasExited()) << app.errors();
    EXPECT_TRUE(app.stop()) << app.errors();
  }
}

}  // namespace
