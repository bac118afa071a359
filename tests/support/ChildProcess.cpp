#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;

namespace testsupport {

ChildResult runTestInChildProcess(const std::string& testName,
                                  const std::vector<std::pair<std::string, std::string>>& environment,
                                  double timeoutSeconds) {
  ChildResult result;
  char exe[4096];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return result;
  exe[n] = '\0';

  // The environment of this process with the given variables replaced or added.
  std::map<std::string, std::string> variables;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq) variables[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
  }
  for (const auto& [k, v] : environment) variables[k] = v;
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : variables) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::string filter = "--gtest_filter=" + testName;
  std::string alsoDisabled = "--gtest_also_run_disabled_tests";
  std::vector<char*> argv = {exe, filter.data(), alsoDisabled.data(), nullptr};

  char outputPath[] = "/tmp/sa-child-output-XXXXXX";
  const int fd = ::mkstemp(outputPath);
  if (fd < 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fd, STDERR_FILENO);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, exe, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(fd);
  if (spawned == 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    int status = 0;
    for (;;) {
      const pid_t done = ::waitpid(pid, &status, WNOHANG);
      if (done == pid) {
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
      if (done < 0 || std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        result.output = "(the child did not finish in time)\n";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polling the child's exit
    }
  }
  std::ifstream in(outputPath);
  std::ostringstream text;
  text << in.rdbuf();
  result.output += text.str();
  ::unlink(outputPath);
  return result;
}

bool adoptSharedApplicationHome() {
  const char* home = std::getenv(kSharedHomeVariable);
  if (!home || !*home) return false;
  ::setenv("SPECTRUM_ANALYSER_HOME", home, 1);
  return true;
}

}  // namespace testsupport
