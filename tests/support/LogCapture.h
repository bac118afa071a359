#pragma once
// Collects the platform log (NSLog) for the life of a scope, so tests can check what was reported.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/NSLog.h"

namespace testsupport {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();  // puts back the previous sink
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> lines() const;
  // Whether some line contains `text`.
  bool contains(const std::string& text) const;

 private:
  struct Lines {
    mutable std::mutex mutex;
    std::vector<std::string> lines;
  };
  std::shared_ptr<Lines> lines_;
  ns::LogSink previous_;
};

}  // namespace testsupport
