#include "sdk/database/persistence/FDatabaseLog.h"

#include <cstdarg>

#include "platform/foundation/NSString.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/database/core/FUtilities.h"

namespace fdblog {

void debug(const char* code, const char* format, ...) {
  if (!FUtilitiesLogLevelEnabled(kFLogLevelDebug)) return;
  va_list args;
  va_start(args, format);
  std::string message = ns::vformat(format, args);
  va_end(args);
  ZIRLogMessage(ZIRLoggerLevel::Debug, kService, code, message);
}

void warning(const char* code, const char* format, ...) {
  if (!FUtilitiesLogLevelEnabled(kFLogLevelWarning)) return;
  va_list args;
  va_start(args, format);
  std::string message = ns::vformat(format, args);
  va_end(args);
  ZIRLogMessage(ZIRLoggerLevel::Warning, kService, code, message);
}

void error(const char* code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = ns::vformat(format, args);
  va_end(args);
  ZIRLogMessage(ZIRLoggerLevel::Error, kService, code, message);
}

}  // namespace fdblog
