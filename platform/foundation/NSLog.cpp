#include "platform/foundation/NSLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}
ns::LogSink& sink() {
  static ns::LogSink s;
  return s;
}
}  // namespace

void NSLogString(const std::string& line) {
  ns::LogSink current;
  {
    std::lock_guard<std::mutex> lock(sinkMutex());
    current = sink();
  }
  if (current) {
    current(line);
    return;
  }
  std::fprintf(stderr, "%s\n", line.c_str());
}

void NSLog(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string line;
  if (n > 0) {
    line.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(line.data(), line.size(), fmt, ap2);
    line.resize(static_cast<size_t>(n));
  }
  va_end(ap2);
  NSLogString(line);
}

namespace ns {
LogSink setLogSink(LogSink s) {
  std::lock_guard<std::mutex> lock(sinkMutex());
  LogSink previous = std::move(sink());
  sink() = std::move(s);
  return previous;
}
}  // namespace ns
