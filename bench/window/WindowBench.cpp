// What the live window costs the user: the analyser runs in its real window on the test services'
// virtual X server, capturing the demo input that this program plays into the private audio
// server's sink (the server's monitor is the analyser's default input), and its process's CPU time
// is read from /proc while each mode runs. Printed beside the targets:
//   - CPU seconds per second of audio in octave bars (the default settings), the FFT plot and the
//     sonogram: the fastest of several runs, the modes interleaved, each run a fresh process with
//     the mode stored in a fresh application home;
//   - resident memory after a phase of mode changes through the side menu, over resident memory
//     after the first 10 s in octave mode, in one process.
// Each measured run checks that the chart really changes on the screen (frames are analysed and
// drawn), so a run that gets no audio cannot pass as a cheap one.
//
// Needs the services of scripts/test-services (scripts/run-bench starts them): SA_TEST_X_DISPLAY
// and PULSE_SERVER. Options: --seconds S (each measured run, 12), --runs N (per mode, 4),
// --switch-seconds S (the mode-change phase, 60), --modes octave,fft,sonogram, --app PATH (another
// build of the analyser, to measure a baseline the same way).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/FileAudioInput.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The analyser being measured, ended with this program when it is interrupted.
std::atomic<pid_t> gChild{-1};
void endChildAndExit(int signal) {
  pid_t child = gChild.load();
  if (child > 0) kill(child, SIGKILL);
  _exit(128 + signal);
}

void sleepFor(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

bool eventually(const std::function<bool()>& condition, double seconds) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    if (condition()) return true;
    sleepFor(0.1);
  }
  return condition();
}

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// The demo file, converted to 44.1 kHz mono, played into the sink in real time and looped, on a
// thread of its own until destroyed.
class DemoPlayer {
 public:
  DemoPlayer(const std::string& path, const std::string& sink) {
    OSStatus status = 0;
    file_ = FileAudioInput::create(path, &status);
    if (!file_) {
      error_ = "cannot read " + path;
      return;
    }
    pa_sample_spec format{PA_SAMPLE_FLOAT32LE, 44100, 1};
    int error = 0;
    stream_ = pa_simple_new(nullptr, "sa-window-bench", PA_STREAM_PLAYBACK, sink.empty() ? nullptr : sink.c_str(),
                            "demo", &format, nullptr, nullptr, &error);
    if (!stream_) {
      error_ = std::string("cannot play into the audio server: ") + pa_strerror(error);
      return;
    }
    thread_ = std::thread([this] {
      std::vector<float> block(1024);
      while (!stop_.load()) {
        file_->readSamples(block.data(), static_cast<uint32_t>(block.size()));
        int error = 0;
        // The write blocks while the server's buffer is full: the stream plays in real time.
        if (pa_simple_write(stream_, block.data(), block.size() * sizeof(float), &error) < 0) break;
      }
    });
  }
  ~DemoPlayer() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    if (stream_) pa_simple_free(stream_);
  }
  const std::string& error() const { return error_; }

 private:
  std::shared_ptr<FileAudioInput> file_;
  pa_simple* stream_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::string error_;
};

// A fresh application home with the analyser's mode stored, removed when done.
class Home {
 public:
  explicit Home(const std::string& mode) {
    std::string pattern = (std::filesystem::temp_directory_path() / "sa-window-bench-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) return;
    path_ = buffer.data();
    use();
    NSUserDefaults::standardUserDefaults()->setObject(Value(mode), "CURRENT_TYPE");
    NSUserDefaults::standardUserDefaults()->synchronize();
  }
  ~Home() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  // The mode the analyser stored last, read as its next launch would.
  std::string storedMode() const {
    use();
    auto value = NSUserDefaults::standardUserDefaults()->objectForKey("CURRENT_TYPE");
    return value && value->is_string() ? value->get<std::string>() : "";
  }

 private:
  void use() const {
    NSUserDefaults::resetForTesting();
    setenv("SPECTRUM_ANALYSER_HOME", path_.c_str(), 1);
  }
  std::string path_;
};

std::string runCommand(const std::string& command) {
  std::string out;
  if (FILE* p = popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, p)) out += buffer;
    pclose(p);
  }
  return out;
}

// The analyser in its window: started, found on the X server, measured, ended.
class Analyser {
 public:
  Analyser(const std::string& binary, const std::string& display, const Home& home, Display* x)
      : display_(display), x_(x) {
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
      std::string var = *e;
      for (const char* drop : {"DISPLAY=", "WAYLAND_DISPLAY=", "SA_AUDIO_INPUT=", "SPECTRUM_ANALYSER_HOME=", "SDL_VIDEODRIVER="}) {
        if (var.rfind(drop, 0) == 0) var.clear();
      }
      if (!var.empty()) vars.push_back(var);
    }
    vars.push_back("DISPLAY=" + display);
    vars.push_back("SDL_VIDEODRIVER=x11");
    vars.push_back("SPECTRUM_ANALYSER_HOME=" + home.path());
    std::vector<char*> envp;
    for (auto& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string program = binary;
    char* argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    gChild.store(pid_);
  }
  ~Analyser() { stop(); }

  // Waits until the analyser's window is shown; false when it never is.
  bool waitForWindow() {
    if (pid_ <= 0) return false;
    bool found = eventually([&] {
      std::string ids = runCommand("DISPLAY=" + display_ + " xdotool search --pid " + std::to_string(pid_));
      if (ids.empty()) return false;
      window_ = std::stoul(ids);
      return true;
    }, 30);
    if (!found) return false;
    return eventually([&] {
      XWindowAttributes attributes;
      return XGetWindowAttributes(x_, window_, &attributes) && attributes.map_state == IsViewable;
    }, 30);
  }

  // User and system CPU seconds of the process, all its threads.
  double cpuSeconds() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    std::vector<std::string> f;
    while (fields >> field) f.push_back(field);
    // After the command: state is field 3, utime 14 and stime 15 (counting from 1).
    if (f.size() < 13) return -1;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    return (std::stod(f[11]) + std::stod(f[12])) / tick;
  }

  // Resident memory in MB.
  double residentMB() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return -1;
  }

  // The chart area's pixels (the window has two pixels per point).
  std::vector<unsigned long> chartPixels() {
    std::vector<unsigned long> pixels;
    XImage* image = XGetImage(x_, window_, 130, 130, 860, 380, AllPlanes, ZPixmap);
    if (!image) return pixels;
    for (int y = 0; y < 380; y += 2) {
      for (int x = 0; x < 860; x += 2) pixels.push_back(XGetPixel(image, x, y));
    }
    XDestroyImage(image);
    return pixels;
  }
  // Whether the chart changes on the screen within a few seconds: frames are analysed and drawn.
  bool chartIsLive() {
    auto first = chartPixels();
    return !first.empty() && eventually([&] { return chartPixels() != first; }, 5);
  }

  // Clicks at a point of the window, in points.
  void click(double x, double y) {
    runCommand("DISPLAY=" + display_ + " xdotool mousemove --window " + std::to_string(window_) + " " +
               std::to_string(static_cast<int>(x * 2)) + " " + std::to_string(static_cast<int>(y * 2)) + " click 1");
  }

  bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    if (!eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 20)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    gChild.store(-1);
    pid_ = -1;
  }

 private:
  std::string display_;
  Display* x_;
  pid_t pid_ = -1;
  unsigned long window_ = 0;
};

struct Options {
  double seconds = 12;
  int runs = 4;
  double switchSeconds = 60;
  std::vector<std::string> modes{"octave", "fft", "sonogram"};
  std::string app = SA_APP_BINARY;
};

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    try {
      if (a == "--seconds") {
        auto v = value();
        if (!v) return false;
        o.seconds = std::stod(*v);
      } else if (a == "--runs") {
        auto v = value();
        if (!v) return false;
        o.runs = std::stoi(*v);
      } else if (a == "--switch-seconds") {
        auto v = value();
        if (!v) return false;
        o.switchSeconds = std::stod(*v);
      } else if (a == "--app") {
        auto v = value();
        if (!v) return false;
        o.app = *v;
      } else if (a == "--modes") {
        auto v = value();
        if (!v) return false;
        o.modes.clear();
        std::stringstream list(*v);
        std::string m;
        while (std::getline(list, m, ',')) {
          if (m != "octave" && m != "fft" && m != "sonogram") return false;
          o.modes.push_back(m);
        }
      } else {
        return false;
      }
    } catch (const std::exception&) {
      return false;
    }
  }
  return o.seconds > 0 && o.runs > 0 && o.switchSeconds >= 0;
}

const std::map<std::string, std::pair<const char*, double>>& cpuRows() {
  static const std::map<std::string, std::pair<const char*, double>> rows{
      {"octave", {"octave bars (default settings)", 0.10}},
      {"fft", {"FFT plot", 0.15}},
      {"sonogram", {"sonogram", 0.15}},
  };
  return rows;
}

constexpr double kMemoryTarget = 1.10;

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s [--seconds S] [--runs N] [--switch-seconds S] [--modes octave,fft,sonogram] [--app PATH]\n", argv[0]);
    return 2;
  }
  signal(SIGINT, endChildAndExit);
  signal(SIGTERM, endChildAndExit);
  const std::string display = env("SA_TEST_X_DISPLAY");
  if (display.empty() || display == ":unavailable" || env("PULSE_SERVER").empty()) {
    std::fprintf(stderr, "window benchmark: needs the virtual X server and the private audio server of "
                         "scripts/test-services (make bench starts them)\n");
    return 1;
  }
  Display* x = XOpenDisplay(display.c_str());
  if (!x) {
    std::fprintf(stderr, "window benchmark: cannot open the virtual X display %s\n", display.c_str());
    return 1;
  }
  const std::string demo = NSBundle::mainBundle().pathForResource("demo", "wav").value_or("");
  DemoPlayer player(demo, env("SA_TEST_PULSE_SINK"));
  if (!player.error().empty()) {
    std::fprintf(stderr, "window benchmark: %s\n", player.error().c_str());
    return 1;
  }
  int status = 0;
  std::printf("live window 1136 x 640 on the virtual X server, the demo input through the private audio server\n");
  std::fflush(stdout);

  // ---- CPU per mode: fresh processes, modes interleaved, the fastest run of each ----
  std::map<std::string, double> fastest;
  for (int run = 0; run < options.runs; ++run) {
    for (size_t k = 0; k < options.modes.size(); ++k) {
      const std::string& mode = options.modes[(k + static_cast<size_t>(run)) % options.modes.size()];
      Home home(mode);
      Analyser app(options.app, display, home, x);
      if (!app.waitForWindow()) {
        std::fprintf(stderr, "window benchmark: the analyser's window did not appear (%s)\n", mode.c_str());
        status = 1;
        continue;
      }
      sleepFor(4);  // start-up: the first layout, the input stream, the first frames
      const double cpu0 = app.cpuSeconds();
      const auto t0 = Clock::now();
      sleepFor(options.seconds);
      const double cpu1 = app.cpuSeconds();
      const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
      const bool live = app.chartIsLive();
      const bool ok = app.running() && cpu0 >= 0 && cpu1 >= cpu0 && live && home.storedMode() == mode;
      const double perSecond = (cpu1 - cpu0) / wall;
      std::printf("  run %d %-9s %.3f CPU s/s%s\n", run + 1, mode.c_str(), perSecond,
                  ok ? "" : live ? "  (not counted: the analyser stopped or left the mode)"
                                 : "  (not counted: the chart did not change on the screen)");
      std::fflush(stdout);
      if (!ok) {
        status = 1;
        continue;
      }
      if (!fastest.count(mode) || perSecond < fastest[mode]) fastest[mode] = perSecond;
    }
  }

  // ---- Resident memory: 10 s in octave mode, then mode changes through the side menu ----
  double before = -1, after = -1;
  int changes = 0;
  if (options.switchSeconds > 0) {
    Home home("octave");
    Analyser app(options.app, display, home, x);
    if (app.waitForWindow()) {
      sleepFor(10);
      before = app.residentMB();
      // The side menu's entries: FFT plot, octave analyser, sonogram (rows of 48 points).
      const std::vector<std::pair<std::string, double>> entries{{"fft", 92}, {"sonogram", 188}, {"octave", 140}};
      const auto end = Clock::now() + std::chrono::duration<double>(options.switchSeconds);
      size_t next = 0;
      // Whole rounds, so that the phase ends in octave mode as it began.
      while ((Clock::now() < end || next % entries.size() != 0) && app.running()) {
        const auto& [mode, row] = entries[next++ % entries.size()];
        app.click(543, 28);  // the menu button
        sleepFor(1);         // the menu slides open
        app.click(440, row);
        if (eventually([&] { return home.storedMode() == mode; }, 5)) ++changes;
        sleepFor(2);  // the mode runs
      }
      sleepFor(2);
      after = app.residentMB();
      if (!app.running() || changes == 0) after = -1;
    }
    if (before <= 0 || after <= 0) {
      std::fprintf(stderr, "window benchmark: the mode-change run failed (%d mode changes)\n", changes);
      status = 1;
    }
  }

  std::printf("\n%-80s %10s %8s\n", "", "measured", "target");
  for (const auto& mode : options.modes) {
    const auto& [name, target] = cpuRows().at(mode);
    const std::string row = std::string("live window, CPU seconds per second of audio, ") + name;
    if (fastest.count(mode)) {
      std::printf("%-80s %10.3f %8.2f  %s\n", row.c_str(), fastest[mode], target,
                  fastest[mode] <= target ? "meets" : "misses");
    } else {
      std::printf("%-80s %10s %8.2f\n", row.c_str(), "failed", target);
    }
  }
  if (options.switchSeconds > 0) {
    char row[128];
    std::snprintf(row, sizeof row, "resident memory after %.0f s of mode changes / after 10 s in octave mode",
                  options.switchSeconds);
    if (before > 0 && after > 0) {
      const double ratio = after / before;
      std::printf("%-80s %10.2f %8.2f  %s (%.0f / %.0f MB, %d mode changes)\n", row, ratio, kMemoryTarget,
                  ratio <= kMemoryTarget ? "meets" : "misses", after, before, changes);
    } else {
      std::printf("%-80s %10s %8.2f\n", row, "failed", kMemoryTarget);
    }
  }
  XCloseDisplay(x);
  return status;
}
