#include "platform/uikit/HTMLPageFiles.h"

#include <sys/stat.h>

#include <filesystem>

namespace htmlpage {

std::optional<std::string> localPath(const std::string& reference, const std::string& directory) {
  std::string ref = reference.substr(0, reference.find_first_of("?#"));
  if (ref.empty()) return std::nullopt;
  if (ref.rfind("file://", 0) == 0) return ref.substr(7);
  if (ref.rfind("file:", 0) == 0) return ref.substr(5);
  auto colon = ref.find(':');
  if (colon != std::string::npos && ref.find('/') > colon) return std::nullopt;  // another scheme
  if (ref[0] == '/') return ref;
  return (std::filesystem::path(directory) / ref).lexically_normal().string();
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
  struct stat file {};
  if (::stat(path.c_str(), &file) != 0) return std::nullopt;
  return FileIdentity{file.st_dev, file.st_ino};
}

}  // namespace htmlpage
