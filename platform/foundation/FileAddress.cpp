#include "platform/foundation/FileAddress.h"

#include "platform/foundation/NSPathUtilities.h"

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
  std::string bytes, why;
  if (readFile(path, maxBytes, &bytes, &why) != FileRead::Read) {
    if (error) *error = std::move(why);
    return false;
  }
  if (contents) *contents = std::move(bytes);
  return true;
}

}  // namespace ns
