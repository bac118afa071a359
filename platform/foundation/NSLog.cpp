#include "platform/foundation/NSLog.h"

#include "platform/foundation/NSString.h"

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
  va_list args;
  va_start(args, fmt);
  std::string line = ns::vformat(fmt, args);
  va_end(args);
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
