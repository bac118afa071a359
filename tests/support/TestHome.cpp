#include "tests/support/TestHome.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/NSUserDefaults.h"
#include "platform/security/Keychain.h"

namespace testsupport {

namespace {
std::mutex gMutex;
std::vector<std::string>* gHomes = nullptr;

void removeHomes() {
  std::lock_guard<std::mutex> lock(gMutex);
  if (!gHomes) return;
  if (!std::getenv("SA_KEEP_TEST_HOMES")) {
    for (const auto& h : *gHomes) {
      std::error_code ec;
      std::filesystem::remove_all(h, ec);
    }
  }
}
}  // namespace

std::string useFreshApplicationHome() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/sa-test-home-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  std::string home(buf.data());
  setenv("SPECTRUM_ANALYSER_HOME", home.c_str(), 1);
  std::lock_guard<std::mutex> lock(gMutex);
  if (!gHomes) {
    gHomes = new std::vector<std::string>();
    std::atexit(removeHomes);
  }
  gHomes->push_back(home);
  return home;
}

void startTestInFreshHome() {
  // Pending changes of the previous test's suites are written to its own home first.
  NSUserDefaults::resetForTesting();
  security::clearKeychainFailures();
  useFreshApplicationHome();
}

}  // namespace testsupport
