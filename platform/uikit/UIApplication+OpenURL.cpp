// Handing addresses of other sites to the desktop's browser.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "platform/foundation/NSLog.h"
#include "platform/uikit/UIApplication.h"

extern char** environ;

namespace {

bool isExternalAddress(const std::string& url) {
  if (url.empty() || url.size() > 8192) return false;
  for (unsigned char c : url) {
    if (c < 0x20 || c == 0x7f) return false;  // no control characters reach another program
  }
  for (const char* scheme : {"http://", "https://", "mailto:"}) {
    if (url.rfind(scheme, 0) == 0) return url.size() > std::string(scheme).size();
  }
  return false;
}

// The full path of a program on PATH, none when it is not there.
std::optional<std::string> findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    std::filesystem::path candidate = std::filesystem::path(dir) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return std::nullopt;
}

}  // namespace

bool UIApplication::openURL(const std::string& url) {
  if (!isExternalAddress(url)) {
    NSLog("openURL: not an address of another site: %s", url.c_str());
    return false;
  }
  if (urlOpener_) return urlOpener_(url);
  auto program = findProgram("xdg-open");
  if (!program) {
    NSLog("openURL: no desktop browser (xdg-open) to open %s", url.c_str());
    return false;
  }
  // The address is one argument of its own (no shell): nothing in it is interpreted.
  std::string programPath = *program;
  std::string argument = url;
  char* argv[] = {programPath.data(), argument.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, programPath.c_str(), nullptr, nullptr, argv, environ) != 0) {
    NSLog("openURL: xdg-open could not be started for %s", url.c_str());
    return false;
  }
  // Reaped on its own thread: the browser may take its time and nobody waits for it.
  std::thread([pid] {
    int status = 0;
    waitpid(pid, &status, 0);
  }).detach();
  return true;
}
