// The application in a real window on the test services' virtual X server: the bottom bar's
// buttons clicked with synthesised mouse events (xdotool), the stored settings read back from the
// defaults file, and the window's pixels read from the X server.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "tests/support/WaitFor.h"

extern char** environ;

namespace {

const char* display() { return std::getenv("SA_TEST_X_DISPLAY"); }

// Waits (really: another process does the work) until the condition holds or the deadline passes.
bool eventually(const std::function<bool()>& condition, double seconds = 30) {
  return testsupport::waitPolling(condition, seconds, 0.1);
}

std::string run(const std::string& command) {
  std::string out;
  std::string full = "DISPLAY=" + std::string(display()) + " " + command + " 2>/dev/null";
  if (FILE* p = popen(full.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, p)) out += buffer;
    pclose(p);
  }
  return out;
}

// The stored setting as the next launch would read it.
Value stored(const char* key) {
  NSUserDefaults::resetForTesting();
  return NSUserDefaults::standardUserDefaults()->objectForKey(key).value_or(Value());
}

struct Counts {
  long cyan = 0, purple = 0, red = 0, blue = 0, lavender = 0, white = 0;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(display(), nullptr) << "SA_TEST_X_DISPLAY is not set: run the tests through make test";
    x_ = XOpenDisplay(display());
    ASSERT_NE(x_, nullptr) << "cannot open the virtual X display " << display();
  }
  void TearDown() override {
    stop();
    if (x_) XCloseDisplay(x_);
  }

  void start() {
    std::string demo = NSBundle::mainBundle().pathForResource("demo", "wav").value_or("");
    ASSERT_FALSE(demo.empty());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string var = *e;
      if (var.rfind("DISPLAY=", 0) == 0 || var.rfind("SA_AUDIO_INPUT=", 0) == 0 || var.rfind("WAYLAND_DISPLAY=", 0) == 0) continue;
      env.push_back(var);
    }
    env.push_back("DISPLAY=" + std::string(display()));
    env.push_back("SA_AUDIO_INPUT=file:" + demo);
    env.push_back("SDL_VIDEODRIVER=x11");
    std::vector<char*> envp;
    for (auto& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string binary = SA_APP_BINARY;
    char* argv[] = {binary.data(), nullptr};
    ASSERT_EQ(posix_spawn(&pid_, binary.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    ASSERT_TRUE(eventually([&] {
      std::string found = run("xdotool search --pid " + std::to_string(pid_));
      if (found.empty()) return false;
      window_ = std::stoul(found);
      return true;
    })) << "no window appeared";
    XWindowAttributes attributes;
    ASSERT_TRUE(eventually([&] { return XGetWindowAttributes(x_, window_, &attributes) && attributes.map_state == IsViewable; }));
    EXPECT_EQ(attributes.width, 1136);
    EXPECT_EQ(attributes.height, 640);
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);  // SDL turns it into a quit event: the application ends cleanly
    int status = 0;
    bool ended = eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 30);
    if (!ended) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    pid_ = -1;
  }

  // Clicks at a point of the screen in points (the window has two pixels per point).
  void click(double x, double y) {
    run("xdotool mousemove --window " + std::to_string(window_) + " " + std::to_string(int(x * 2)) + " " +
        std::to_string(int(y * 2)) + " click 1");
  }
  // The i-th setting button of the bottom bar on the 568-point screen.
  void clickSetting(int i) { click(56 + 61 + i * 128, 295); }

  // Colour counts over a rectangle of the window, in points.
  Counts count(double x0, double y0, double x1, double y1) {
    Counts c;
    int w = int((x1 - x0) * 2), h = int((y1 - y0) * 2);
    XImage* image = XGetImage(x_, window_, int(x0 * 2), int(y0 * 2), w, h, AllPlanes, ZPixmap);
    if (!image) return c;
    for (int y = 0; y < h; y += 2) {
      for (int x = 0; x < w; x += 2) {
        unsigned long p = XGetPixel(image, x, y);
        int r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
        if (r < 100 && g > 200 && b > 190) ++c.cyan;              // 0x31F1E8, the bars
        if (std::abs(r - 0x4F) < 24 && std::abs(g - 0x4D) < 24 && b > 150 && b < 215) ++c.purple;  // the fill
        if (r > 180 && g < 140 && b < 140) ++c.red;
        if (b > 150 && r < 140) ++c.blue;
        if (std::abs(r - 0x9C) < 30 && std::abs(g - 0x80) < 30 && b > 200) ++c.lavender;  // the round buttons' ring
        if (r > 200 && g > 200 && b > 200) ++c.white;  // light text
      }
    }
    XDestroyImage(image);
    return c;
  }

  Display* x_ = nullptr;
  pid_t pid_ = -1;
  unsigned long window_ = 0;
};

TEST_F(WindowTest, BottomBarClicksChangeTheStoredSettingsAndTheBarsBecomeALine) {
  start();
  ASSERT_TRUE(eventually([] { return stored("CURRENT_TYPE") == Value("octave"); }));
  // Third-octave bars on the demo input.
  ASSERT_TRUE(eventually([&] { return count(60, 60, 500, 260).cyan > 2000; })) << count(60, 60, 500, 260).cyan;

  clickSetting(0);  // GRAPH: bars -> line
  EXPECT_TRUE(eventually([] { return stored("OCTAVE_GRAPH_TYPE") == Value("line"); }));
  EXPECT_TRUE(eventually([&] {
    Counts c = count(60, 60, 500, 260);
    return c.cyan < 1000 && c.purple > 3000;
  })) << count(60, 60, 500, 260).cyan << " " << count(60, 60, 500, 260).purple;

  clickSetting(1);  // OCTAVE: 1/3 -> 1/6
  EXPECT_TRUE(eventually([] { return stored("OCTAVE_TYPE") == Value("octave6"); }));
  clickSetting(2);  // FFT SIZE: 512 -> 1024
  EXPECT_TRUE(eventually([] { return stored("OCTAVE_FFT_SIZE") == Value(int64_t(1024)); }));
  clickSetting(3);  // PEAKS: Hold -> Off
  EXPECT_TRUE(eventually([] { return stored("OCTAVE_HOLD_PEAKS") == Value("Off"); }));
  click(25, 295);  // start/stop: the chart stops, nothing is stored
  EXPECT_TRUE(eventually([] { return stored("eventsStack").dump().find("Stop_Tap") != std::string::npos; }));
}

TEST_F(WindowTest, ThePaletteButtonRecoloursTheSonogram) {
  auto defaults = NSUserDefaults::standardUserDefaults();
  defaults->setObject(Value("sonogram"), "CURRENT_TYPE");
  defaults->setObject(Value("lava"), "SPECTROGRAM_PALETTE");
  defaults->synchronize();
  start();
  // New columns enter at the right edge of the chart.
  auto edge = [&] { return count(440, 60, 515, 250); };
  ASSERT_TRUE(eventually([&] { return edge().red > 1500; })) << edge().red;
  clickSetting(3);  // PALETTE: lava -> heat
  EXPECT_TRUE(eventually([] { return stored("SPECTROGRAM_PALETTE") == Value("heat"); }));
  EXPECT_TRUE(eventually([&] {
    Counts c = edge();
    return c.blue > 1500 && c.red < 300;
  })) << edge().blue << " " << edge().red;
}

// The side menu in the window: the menu button opens it, "Octave RTA" switches the analyser from
// the stored FFT plot, "Help" shows the rendered help page and the help page's menu button brings
// the menu back. The container's position shows in where the analyser's menu button is drawn
// (x 543 closed, 283 with the 260-point menu open); the selected entry has a cyan accent.
TEST_F(WindowTest, TheSideMenuSwitchesTheModeAndOpensTheRenderedHelpPage) {
  auto defaults = NSUserDefaults::standardUserDefaults();
  defaults->setObject(Value("fft"), "CURRENT_TYPE");
  defaults->synchronize();
  start();
  auto closed = [&] { return count(522, 8, 564, 48).lavender > 60 && count(262, 8, 304, 48).lavender < 10; };
  auto open = [&] { return count(262, 8, 304, 48).lavender > 60 && count(522, 8, 564, 48).lavender < 10; };
  auto selected = [&](double top) { return count(320, top, 560, top + 44).cyan > 40; };
  const double fftRow = 70, octaveRow = 118, helpRow = 231;
  ASSERT_TRUE(eventually(closed));
  // The FFT plot's purple fill under its line.
  ASSERT_TRUE(eventually([&] { return count(60, 60, 500, 260).purple > 3000; })) << count(60, 60, 500, 260).purple;

  click(543, 28);  // the menu button
  ASSERT_TRUE(eventually(open)) << count(262, 8, 304, 48).lavender;
  EXPECT_TRUE(eventually([&] { return selected(fftRow) && !selected(octaveRow); }));
  // The menu's light entry titles over its panel.
  EXPECT_GT(count(350, 60, 560, 290).white, 200);

  click(440, octaveRow + 22);  // "Octave RTA"
  EXPECT_TRUE(eventually([] { return stored("CURRENT_TYPE") == Value("octave"); }));
  EXPECT_TRUE(eventually(closed));
  EXPECT_TRUE(eventually([&] { return count(60, 60, 500, 260).cyan > 2000; })) << count(60, 60, 500, 260).cyan;

  click(543, 28);
  ASSERT_TRUE(eventually(open));
  EXPECT_TRUE(eventually([&] { return selected(octaveRow) && !selected(fftRow); }));
  click(440, helpRow + 22);  // "Help"
  EXPECT_TRUE(eventually([] { return stored("eventsStack").dump().find("/Help/") != std::string::npos; }));
  ASSERT_TRUE(eventually(closed));
  // The help page: its white title, a cyan heading and lines of light text under it.
  EXPECT_TRUE(eventually([&] {
    return count(20, 20, 300, 55).white > 150 && count(20, 160, 300, 200).cyan > 100 &&
           count(20, 210, 480, 310).white > 1000;
  })) << count(20, 20, 300, 55).white << " " << count(20, 160, 300, 200).cyan << " " << count(20, 210, 480, 310).white;
  EXPECT_EQ(stored("CURRENT_TYPE"), Value("octave"));

  click(543, 28);  // the help page's menu button
  EXPECT_TRUE(eventually(open));
  EXPECT_TRUE(eventually([&] { return selected(helpRow); }));
}

}  // namespace
