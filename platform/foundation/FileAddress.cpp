#include "platform/foundation/FileAddress.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace ns {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] - 'A' + 'a') : a[i];
    const char y = b[i] >= 'A' && b[i] <= 'Z' ? char(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> pathFromFileURL(std::string_view address, std::string* error) {
  constexpr std::string_view kScheme = "file:";
  if (address.size() < kScheme.size() || !equalsIgnoringCase(address.substr(0, kScheme.size()), kScheme)) {
    if (address.empty()) return fail(error, "empty file address");
    return std::string(address);
  }
  std::string_view rest = address.substr(kScheme.size());
  if (const size_t end = rest.find_first_of("?#"); end != std::string_view::npos) rest = rest.substr(0, end);
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    const size_t slash = rest.find('/');
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !equalsIgnoringCase(host, "localhost"))
      return fail(error, "not a file on this machine (host \"" + std::string(host) + "\")");
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  }
  std::string path;
  path.reserve(rest.size());
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      path.push_back(rest[i]);
      continue;
    }
    const int high = i + 1 < rest.size() ? hexDigit(rest[i + 1]) : -1;
    const int low = i + 2 < rest.size() ? hexDigit(rest[i + 2]) : -1;
    if (high < 0 || low < 0) return fail(error, "malformed percent escape in the file URL");
    const char byte = char(high * 16 + low);
    if (byte == '\0') return fail(error, "the file URL names a path with a NUL byte");
    path.push_back(byte);
    i += 2;
  }
  if (path.empty()) return fail(error, "the file URL names no path");
  return path;
}

bool readFileContents(const std::string& path, size_t maxBytes, std::string* contents, std::string* error) {
  auto failWith = [error](std::string message) {
    if (error) *error = std::move(message);
    return false;
  };
  if (path.find('\0') != std::string::npos) return failWith("the path holds a NUL byte");
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failWith(errno == ENOENT ? "no such file" : std::strerror(errno));
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int e = errno;
    ::close(fd);
    return failWith(std::strerror(e));
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return failWith("is a directory");
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return failWith("not a regular file");
  }
  if (uint64_t(st.st_size) > maxBytes) {
    ::close(fd);
    return failWith("larger than " + std::to_string(maxBytes) + " bytes");
  }
  std::string bytes;
  bytes.resize(size_t(st.st_size));
  size_t have = 0;
  for (;;) {
    if (have == bytes.size()) {
      // The file may have grown since it was measured: one more byte tells.
      if (bytes.size() >= maxBytes + 1) break;
      bytes.resize(std::min(maxBytes + 1, bytes.size() + 4096));
    }
    const ssize_t n = ::read(fd, bytes.data() + have, bytes.size() - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      ::close(fd);
      return failWith(std::strerror(e));
    }
    if (n == 0) break;
    have += size_t(n);
  }
  ::close(fd);
  if (have > maxBytes) return failWith("larger than " + std::to_string(maxBytes) + " bytes");
  bytes.resize(have);
  if (contents) *contents = std::move(bytes);
  return true;
}

}  // namespace ns
