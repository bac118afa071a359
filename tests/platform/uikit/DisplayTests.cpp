// Whether a desktop display is there: only a server that answers, shown by a desktop video driver,
// counts. A DISPLAY that names nothing made SDL fall back to its offscreen driver, and the
// analyser then ran for ever showing nothing.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/uikit/SDLWindowHost.h"
#include "platform/uikit/UIWindow.h"

extern char** environ;

namespace {

// An X server of the test's own (Xvfb on the first free display number), ended with the test.
class PrivateXServer {
 public:
  PrivateXServer() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // -noreset: the server would otherwise reset, refusing clients for a moment, each time its last
    // client leaves.
    const char* argv[] = {"Xvfb",   "-displayfd", "3", "-noreset", "-nolisten", "tcp", "-screen", "0",
                          "640x480x24", nullptr};
    if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    // Xvfb writes its display number once it accepts clients.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (pid_ > 0 && ::poll(&p, 1, 20000) > 0) {
      char c;
      if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    ::close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~PrivateXServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = 0;
  std::string display_;
};

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("SDL_VIDEODRIVER");
  }
};

TEST_F(DisplayTest, WithoutADisplayVariableThereIsNoDisplay) {
  std::string why;
  EXPECT_FALSE(SDLWindowHost::displayAvailable(&why));
  EXPECT_EQ(why, "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
}

TEST_F(DisplayTest, ADisplayThatNamesNoServerIsNoDisplayAndOpensNoWindow) {
  setenv("DISPLAY", ":4093", 1);
  std::string why;
  EXPECT_FALSE(SDLWindowHost::displayAvailable(&why));
  EXPECT_NE(why.find("DISPLAY \":4093\" names no display server"), std::string::npos) << why;
  setenv("WAYLAND_DISPLAY", "wayland-4093", 1);
  setenv("XDG_RUNTIME_DIR", ::testing::TempDir().c_str(), 1);
  EXPECT_FALSE(SDLWindowHost::displayAvailable(&why));
  EXPECT_NE(why.find("WAYLAND_DISPLAY \"wayland-4093\""), std::string::npos) << why;

  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 100, 50));
  SDLWindowHost host;
  std::string error;
  EXPECT_FALSE(host.open(window, "test", &error));
  EXPECT_NE(error.find("no display"), std::string::npos) << error;
  EXPECT_FALSE(host.pumpEvents());
}

TEST_F(DisplayTest, AServerThatAnswersIsADisplayUnlessSDLIsToldToDrawNowhere) {
  PrivateXServer x;
  if (x.display().empty()) GTEST_SKIP() << "no Xvfb to stand for a desktop display";
  setenv("DISPLAY", x.display().c_str(), 1);
  std::string why;
  EXPECT_TRUE(SDLWindowHost::displayAvailable(&why)) << why;
  for (const char* nowhere : {"offscreen", "dummy"}) {
    setenv("SDL_VIDEODRIVER", nowhere, 1);
    EXPECT_FALSE(SDLWindowHost::displayAvailable(&why)) << nowhere;
    EXPECT_EQ(why, std::string("no display: SDL's video driver \"") + nowhere + "\" shows no window");
  }
  unsetenv("SDL_VIDEODRIVER");
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 100, 50));
  SDLWindowHost host;
  std::string error;
  ASSERT_TRUE(host.open(window, "test", &error)) << error;
  EXPECT_TRUE(host.pumpEvents());
  host.close();
}

}  // namespace
