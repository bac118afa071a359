#include "tests/fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace fuzzsupport {

namespace {
std::string* gHome = nullptr;

void removeHome() {
  if (!gHome) return;
  std::error_code ec;
  std::filesystem::remove_all(*gHome, ec);
}
}  // namespace

const std::string& privateHome() {
  if (!gHome) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/sa-fuzz-home-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    gHome = new std::string(buf.data());
    setenv("SPECTRUM_ANALYSER_HOME", gHome->c_str(), 1);
    std::atexit(removeHome);
  }
  return *gHome;
}

void broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace fuzzsupport
