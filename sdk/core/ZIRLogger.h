#pragma once
// The SDK logger. Each line carries the SDK version, a service tag such as "[Zirezize/Core]" and a
// message code of an area and six digits ("I-COR000001"), written as "%@ - %@[%@] %@" to the system
// log (syslog) and, when forced by "-ZIRLoggerForceSTDERR", to standard error.
// Writing happens on the logger's own serial queue: callers never wait for it.
//
// Launch arguments, read once when the logger starts: "-ZIRDebugEnabled" turns debug logging on
// and remembers it in the standard user defaults under "/deruru/zirezize/debug_mode";
// "-ZIRDebugDisabled" forgets it. With debug mode on every level is written.
#include <functional>
#include <string>
#include <vector>

enum class ZIRLoggerLevel : int {
  Error = 3,
  Warning = 4,
  Notice = 5,
  Info = 6,
  Debug = 7,
  Min = Error,
  Max = Debug,
};

inline constexpr const char* ZIRLoggerCore = "[Zirezize/Core]";
inline constexpr const char* ZIRDebugEnabledArgument = "-ZIRDebugEnabled";
inline constexpr const char* ZIRDebugDisabledArgument = "-ZIRDebugDisabled";
inline constexpr const char* ZIRLoggerForceSTDERRArgument = "-ZIRLoggerForceSTDERR";
inline constexpr const char* ZIRPersistedDebugModeKey = "/deruru/zirezize/debug_mode";

// Sets up the logger from the process's launch arguments (once; later calls do nothing).
void ZIRLoggerInitialize();
// Sets up the logger from the given launch arguments, replacing any earlier set-up (tests).
void ZIRLoggerInitializeWithArguments(const std::vector<std::string>& arguments);

// The level up to which lines are written (notice by default). A level outside error…debug is
// refused with an error line.
void ZIRSetLoggerLevel(ZIRLoggerLevel level);
ZIRLoggerLevel ZIRLoggerCurrentLevel();
bool ZIRIsLoggableLevel(ZIRLoggerLevel level);
bool ZIRLoggerDebugMode();
bool ZIRLoggerForcesSTDERR();

// Whether a message code has the form "I-" + area letters + six digits.
bool ZIRIsValidMessageCode(const std::string& code);

void ZIRLogMessage(ZIRLoggerLevel level, const std::string& service,
                   const std::string& messageCode, const std::string& message);

#define ZIR_LOG_LEVEL_FN(Name, Level)                                                        \
  void Name(const std::string& service, const std::string& messageCode, const char* format, \
            ...) __attribute__((format(printf, 3, 4)));
ZIR_LOG_LEVEL_FN(ZIRLogError, Error)
ZIR_LOG_LEVEL_FN(ZIRLogWarning, Warning)
ZIR_LOG_LEVEL_FN(ZIRLogNotice, Notice)
ZIR_LOG_LEVEL_FN(ZIRLogInfo, Info)
ZIR_LOG_LEVEL_FN(ZIRLogDebug, Debug)
#undef ZIR_LOG_LEVEL_FN

namespace zir_logger {
// Sees every line written (level and the formatted line), besides the system log. Tests.
using Sink = std::function<void(ZIRLoggerLevel level, const std::string& line)>;
void setSinkForTesting(Sink sink);
// Waits until every line logged so far has been written.
void flush();
}  // namespace zir_logger
