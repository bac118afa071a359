#include "tests/support/PrivateXServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

extern char** environ;

namespace testsupport {

PrivateXServer::PrivateXServer(const Options& options) {
  char dir[] = "/tmp/sa-private-x-XXXXXX";
  if (!::mkdtemp(dir)) return;
  dir_ = dir;
  const std::string log = dir_ + "/xvfb.log";
  int fds[2];
  if (::pipe(fds) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const std::string screen = std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
  // -audit 4 logs every client's connection (with its process) and departure.
  std::vector<std::string> args = {"Xvfb", "-displayfd", "3", "-audit", "4", "-nolisten", "tcp", "-screen", "0", screen};
  if (!options.resetWhenLastClientLeaves) args.push_back("-noreset");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
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

PrivateXServer::~PrivateXServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

std::vector<PrivateXServer::Connection> PrivateXServer::connections() const {
  std::vector<Connection> out;
  std::ifstream in(dir_ + "/xvfb.log");
  static const std::regex connected(R"(client (\d+) connected from .*pid=(\d+))");
  static const std::regex disconnected(R"(client (\d+) disconnected)");
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_search(line, m, connected)) {
      out.push_back({std::stoi(m[1]), static_cast<pid_t>(std::stol(m[2])), false});
    } else if (std::regex_search(line, m, disconnected)) {
      const int client = std::stoi(m[1]);
      // The client number names the latest connection that holds it.
      for (auto it = out.rbegin(); it != out.rend(); ++it) {
        if (it->client == client && !it->closed) {
          it->closed = true;
          break;
        }
      }
    }
  }
  return out;
}

}  // namespace testsupport
