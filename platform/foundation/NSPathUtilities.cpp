#include "platform/foundation/NSPathUtilities.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "platform/foundation/ApplicationName.h"
#include "platform/foundation/NSLog.h"

namespace fs = std::filesystem;

std::string NSHomeDirectory() {
  if (const char* h = std::getenv(kHomeEnvironmentVariable); h && *h) return h;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return std::string(x) + "/" + kApplicationName;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/" + kApplicationName;
}

std::string NSLibraryDirectory() { return NSHomeDirectory() + "/Library"; }
std::string NSPreferencesDirectory() { return NSLibraryDirectory() + "/Preferences"; }
std::string NSApplicationSupportDirectory() { return NSLibraryDirectory() + "/Application Support"; }
std::string NSDocumentDirectory() { return NSHomeDirectory() + "/Documents"; }
std::string NSTemporaryDirectory() { return NSHomeDirectory() + "/tmp/"; }
std::string NSKeychainDirectory() { return NSLibraryDirectory() + "/Keychains"; }

namespace ns {

bool createDirectory(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return true;
  fs::create_directories(path, ec);
  if (ec) {
    NSLog("Could not create the folder %s: %s", path.c_str(), ec.message().c_str());
    return false;
  }
  ::chmod(path.c_str(), 0700);
  return true;
}

std::string moveAside(const std::string& path) {
  for (int n = 1; n < 10000; ++n) {
    std::string target = path + ".corrupt-" + std::to_string(n);
    std::error_code ec;
    if (fs::exists(target, ec)) continue;
    fs::rename(path, target, ec);
    if (ec) {
      NSLog("Could not move %s aside: %s", path.c_str(), ec.message().c_str());
      return "";
    }
    return target;
  }
  return "";
}

FileRead readFile(const std::string& path, size_t maxBytes, std::string* bytes, std::string* why) {
  bytes->clear();
  auto fail = [why](FileRead result, std::string reason) {
    if (why) *why = std::move(reason);
    return result;
  };
  if (path.find('\0') != std::string::npos) return fail(FileRead::Missing, "the path holds a NUL byte");
  // O_NONBLOCK: opening a FIFO waits for a writer otherwise. O_NOCTTY: a terminal named here must
  // not become the process's controlling terminal. What is opened is looked at through the
  // descriptor itself, so a file swapped for a FIFO between a look and the open cannot slip in.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int e = errno;
    if (e == ENOENT || e == ENOTDIR) return fail(FileRead::Missing, "no such file");
    return fail(FileRead::Unreadable, std::strerror(e));
  }
  auto failClosing = [&](FileRead result, std::string reason) {
    ::close(fd);
    return fail(result, std::move(reason));
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return failClosing(FileRead::Unreadable, std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return failClosing(FileRead::Unreadable, "is a directory");
  if (!S_ISREG(st.st_mode)) return failClosing(FileRead::Unreadable, "not a regular file");
  // A regular file: blocking reads again (a file system that honours the flag must not answer
  // "try again" halfway).
  if (const int flags = ::fcntl(fd, F_GETFL); flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  const std::string tooLarge = "larger than " + std::to_string(maxBytes) + " bytes";
  if (static_cast<uint64_t>(st.st_size) > maxBytes) return failClosing(FileRead::TooLarge, tooLarge);
  // The size may change while reading: read at most one byte past the limit to notice.
  std::string out(static_cast<size_t>(st.st_size) + 1, '\0');
  size_t got = 0;
  for (;;) {
    if (got == out.size()) {
      if (out.size() > maxBytes) break;
      out.resize(std::min(maxBytes + 1, out.size() * 2 + 4096));
    }
    const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failClosing(FileRead::Unreadable, std::strerror(errno));
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (got > maxBytes) return fail(FileRead::TooLarge, tooLarge);
  out.resize(got);
  *bytes = std::move(out);
  return FileRead::Read;
}

bool writeFileAtomically(const std::string& path, const std::string& bytes, int mode) {
  const fs::path target(path);
  if (target.has_parent_path() && !createDirectory(target.parent_path().string())) return false;
  std::string tmp = path + ".tmp-XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) {
    NSLog("Could not write %s: %s", path.c_str(), std::strerror(errno));
    return false;
  }
  ::fchmod(fd, static_cast<mode_t>(mode));
  size_t off = 0;
  bool ok = true;
  while (off < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + off, bytes.size() - off);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    off += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  ::close(fd);
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    NSLog("Could not write %s: %s", path.c_str(), std::strerror(errno));
    ::unlink(tmp.c_str());
  }
  return ok;
}

}  // namespace ns
