#pragma once
// The database client's log lines, for every layer of it (engine, persistence, connection,
// repository): each passes the database's own log gate first (debug lines only while database
// logging is switched on) and is then written through the SDK logger under the service tag
// "[Zirezize/Database]" with an "I-RDB" message code. Error lines pass no gate: they report lost
// or refused data that a user must be able to find.
#include "sdk/core/ZIRLogger.h"
#include "sdk/database/core/FUtilities.h"

inline constexpr const char* kFDatabaseLogService = "[Zirezize/Database]";

#define FFLogDebug(code, ...)                                                               \
  do {                                                                                      \
    if (FUtilitiesLogLevelEnabled(kFLogLevelDebug)) ZIRLogDebug(kFDatabaseLogService, code, __VA_ARGS__); \
  } while (0)
#define FFLogInfo(code, ...)                                                              \
  do {                                                                                    \
    if (FUtilitiesLogLevelEnabled(kFLogLevelInfo)) ZIRLogInfo(kFDatabaseLogService, code, __VA_ARGS__); \
  } while (0)
#define FFLogWarn(code, ...)                                                                    \
  do {                                                                                          \
    if (FUtilitiesLogLevelEnabled(kFLogLevelWarning)) ZIRLogWarning(kFDatabaseLogService, code, __VA_ARGS__); \
  } while (0)
#define FFLogError(code, ...)                                      \
  do {                                                             \
    ZIRLogError(kFDatabaseLogService, code, __VA_ARGS__);          \
  } while (0)
