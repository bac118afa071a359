#pragma once
// The platform log: lines go to standard error; tests may install a sink to read them.
#include <functional>
#include <string>

void NSLog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void NSLogString(const std::string& line);

namespace ns {
// Replaces the log sink (empty: standard error). Returns the previous sink.
using LogSink = std::function<void(const std::string& line)>;
LogSink setLogSink(LogSink sink);
}  // namespace ns
