#include "tests/support/PrivateAudioServer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

namespace {

bool onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// Runs a program with the given environment added to this process's; returns its pid (0 on failure).
pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv, bool quiet) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& extra : extraEnv)
      replaced = replaced || entry.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> argv, envp;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : 0;
}

}  // namespace

bool PrivateAudioServer::available() { return onPath("pulseaudio") && onPath("pactl"); }

PrivateAudioServer::PrivateAudioServer(std::string sinkName) : sinkName_(std::move(sinkName)) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/sa-private-pulse-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = buf.data();
  address_ = "unix:" + dir_ + "/native";
  setenv("PULSE_SERVER", address_.c_str(), 1);
}

PrivateAudioServer::~PrivateAudioServer() {
  kill();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string PrivateAudioServer::pactl(const std::string& arguments) const {
  std::string out;
  const std::string command = "PULSE_SERVER='" + address_ + "' pactl " + arguments + " 2>&1";
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

std::vector<std::string> PrivateAudioServer::clientStreams(const std::string& kind) const {
  std::vector<std::string> indexes;
  std::istringstream lines(pactl("list short " + kind));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string index, source, client;
    if (std::getline(fields, index, '\t') && std::getline(fields, source, '\t') &&
        std::getline(fields, client, '\t') && client != "-")
      indexes.push_back(index);
  }
  return indexes;
}

bool PrivateAudioServer::answers() const {
  const pid_t pid = spawn({"pactl", "info"}, {"PULSE_SERVER=" + address_}, true);
  if (pid <= 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool PrivateAudioServer::start(std::string* error) {
  if (pid_ > 0) return true;
  const std::string socket = dir_ + "/native";
  // A private runtime, configuration and home: no user or system server is touched.
  pid_ = spawn({"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n", "--use-pid-file=no",
                "--disable-shm=yes", "--system=no",
                "--load=module-native-protocol-unix socket=" + socket + " auth-anonymous=1",
                "--load=module-null-sink sink_name=" + sinkName_ + " rate=44100 channels=2",
                "--log-target=file:" + dir_ + "/pulseaudio.log"},
               {"XDG_RUNTIME_DIR=" + dir_, "XDG_CONFIG_HOME=" + dir_ + "/config", "HOME=" + dir_,
                "PULSE_RUNTIME_PATH=" + dir_, "PULSE_SERVER="},
               true);
  if (pid_ <= 0) {
    pid_ = 0;
    if (error) *error = "pulseaudio could not be started";
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (answers()) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = 0;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (error) {
    std::ifstream log(dir_ + "/pulseaudio.log");
    std::stringstream text;
    text << log.rdbuf();
    *error = "the private audio server did not answer; its log:\n" + text.str();
  }
  kill();
  return false;
}

void PrivateAudioServer::freeze() {
  if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void PrivateAudioServer::thaw() {
  if (pid_ > 0) ::kill(pid_, SIGCONT);
}

void PrivateAudioServer::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = 0;
}

}  // namespace testsupport
