#include "sdk/core/ZIRLogger.h"

#include <syslog.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <regex>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSUserDefaults.h"
#include "sdk/core/ZAVAda.h"

namespace {

struct LoggerState {
  std::mutex mutex;
  bool initialized = false;
  std::atomic<int> level{static_cast<int>(ZIRLoggerLevel::Notice)};
  std::atomic<bool> debugMode{false};
  std::atomic<bool> forceSTDERR{false};
  zir_logger::Sink sink;
  DispatchQueueRef queue;
};

LoggerState& state() {
  static LoggerState* s = new LoggerState();  // outlives late log calls at exit
  return *s;
}

DispatchQueueRef loggerQueue() {
  LoggerState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.queue) s.queue = DispatchQueue::serial("ZIRLoggerQueue");
  return s.queue;
}

std::vector<std::string> processArguments() {
  std::vector<std::string> args;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string arg;
  while (std::getline(in, arg, '\0')) args.push_back(arg);
  return args;
}

void applyArguments(const std::vector<std::string>& arguments) {
  LoggerState& s = state();
  bool enable = false, disable = false, force = false;
  for (const auto& a : arguments) {
    if (a == ZIRDebugEnabledArgument) enable = true;
    if (a == ZIRDebugDisabledArgument) disable = true;
    if (a == ZIRLoggerForceSTDERRArgument) force = true;
  }
  auto defaults = NSUserDefaults::standardUserDefaults();
  if (enable) {
    defaults->setBool(true, ZIRPersistedDebugModeKey);
    defaults->synchronize();
  } else if (disable) {
    defaults->removeObjectForKey(ZIRPersistedDebugModeKey);
    defaults->synchronize();
  }
  bool debug = defaults->boolForKey(ZIRPersistedDebugModeKey);
  s.debugMode = debug;
  s.forceSTDERR = force;
  s.level = static_cast<int>(debug ? ZIRLoggerLevel::Debug : ZIRLoggerLevel::Notice);
}

std::string vformat(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), fmt, ap);
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace

void ZIRLoggerInitialize() {
  LoggerState& s = state();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.initialized) return;
    s.initialized = true;
  }
  applyArguments(processArguments());
}

void ZIRLoggerInitializeWithArguments(const std::vector<std::string>& arguments) {
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().initialized = true;
  }
  applyArguments(arguments);
}

void ZIRSetLoggerLevel(ZIRLoggerLevel level) {
  int v = static_cast<int>(level);
  if (v < static_cast<int>(ZIRLoggerLevel::Min) || v > static_cast<int>(ZIRLoggerLevel::Max)) {
    ZIRLogError(ZIRLoggerCore, "I-COR000023", "Invalid logger level, %d", v);
    return;
  }
  ZIRLoggerInitialize();
  state().level = v;
}

ZIRLoggerLevel ZIRLoggerCurrentLevel() {
  ZIRLoggerInitialize();
  return static_cast<ZIRLoggerLevel>(state().level.load());
}

bool ZIRLoggerDebugMode() {
  ZIRLoggerInitialize();
  return state().debugMode;
}

bool ZIRLoggerForcesSTDERR() {
  ZIRLoggerInitialize();
  return state().forceSTDERR;
}

bool ZIRIsLoggableLevel(ZIRLoggerLevel level) {
  ZIRLoggerInitialize();
  if (state().debugMode) return true;
  return static_cast<int>(level) <= state().level.load();
}

bool ZIRIsValidMessageCode(const std::string& code) {
  static const std::regex pattern("^I-[A-Z]{3,}[0-9]{6}$");
  return std::regex_match(code, pattern);
}

void ZIRLogMessage(ZIRLoggerLevel level, const std::string& service,
                   const std::string& messageCode, const std::string& message) {
  if (!ZIRIsLoggableLevel(level)) return;
  // "%@ - %@[%@] %@": version, service tag, message code, text.
  std::string line =
      std::string(kZIRCoreVersion) + " - " + service + "[" + messageCode + "] " + message;
  bool toStderr = state().forceSTDERR;
  loggerQueue()->async([level, line, toStderr] {
    syslog(static_cast<int>(level), "%s", line.c_str());
    if (toStderr) std::fprintf(stderr, "%s\n", line.c_str());
    zir_logger::Sink sink;
    {
      std::lock_guard<std::mutex> lock(state().mutex);
      sink = state().sink;
    }
    if (sink) sink(level, line);
  });
}

#define ZIR_LOG_LEVEL_IMPL(Name, Level)                                                   \
  void Name(const std::string& service, const std::string& messageCode, const char* format, \
            ...) {                                                                          \
    if (!ZIRIsLoggableLevel(ZIRLoggerLevel::Level)) return;                                \
    va_list ap;                                                                             \
    va_start(ap, format);                                                                   \
    std::string message = vformat(format, ap);                                              \
    va_end(ap);                                                                             \
    ZIRLogMessage(ZIRLoggerLevel::Level, service, messageCode, message);                    \
  }
ZIR_LOG_LEVEL_IMPL(ZIRLogError, Error)
ZIR_LOG_LEVEL_IMPL(ZIRLogWarning, Warning)
ZIR_LOG_LEVEL_IMPL(ZIRLogNotice, Notice)
ZIR_LOG_LEVEL_IMPL(ZIRLogInfo, Info)
ZIR_LOG_LEVEL_IMPL(ZIRLogDebug, Debug)
#undef ZIR_LOG_LEVEL_IMPL

namespace zir_logger {
void setSinkForTesting(Sink sink) {
  flush();
  std::lock_guard<std::mutex> lock(state().mutex);
  state().sink = std::move(sink);
}

void flush() {
  auto q = loggerQueue();
  if (q->isCurrent()) return;
  q->sync([] {});
}
}  // namespace zir_logger
