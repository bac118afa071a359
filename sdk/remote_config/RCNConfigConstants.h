#pragma once
// Names, codes and limits shared by the remote-configuration classes.
#include <cstddef>
#include <cstdint>

#include "sdk/utilities/ZODBoundedJSON.h"

inline constexpr const char* kRCNLoggerService = "[Zirezize/RemoteConfig]";

// The default namespace, and the separator of a fully qualified namespace ("namespace:app").
inline constexpr const char* kZIRRemoteConfigDefaultNamespace = "zirezize";
inline constexpr const char* kRCNNamespaceSeparator = ":";

// Errors handed to completions.
inline constexpr const char* kZIRRemoteConfigErrorDomain = "com.deruru.remoteconfig.ErrorDomain";
inline constexpr int64_t kZIRRemoteConfigErrorUnknown = 8001;      // stored as the last error after a success
inline constexpr int64_t kZIRRemoteConfigErrorThrottled = 8002;
inline constexpr int64_t kZIRRemoteConfigErrorInternalError = 8003;
inline constexpr int64_t kRCNErrorDuplicateRequest = -114;
inline constexpr const char* kZIRRemoteConfigThrottledEndTimeInSecondsKey = "error_throttled_end_time_seconds";
inline constexpr const char* kZIRRemoteConfigActivationFailureReasonKey = "ActivationFailureReason";

// Fetch status.
enum class ZIRRemoteConfigFetchStatus : int64_t { NoFetchYet = 0, Success = 1, Failure = 2, Throttled = 3 };
// What a fetch-and-activate completion reports.
enum class ZIRRemoteConfigFetchAndActivateStatus : int64_t {
  SuccessFetchedFromRemote = 0,
  SuccessUsingPreFetchedData = 1,  // activation reported an error, or the fetch succeeded with an error
  Error = 2,
};

// Keys of a fetch answer.
inline constexpr const char* kRCNFetchResponseKeyState = "state";
inline constexpr const char* kRCNFetchResponseKeyEntries = "entries";
inline constexpr const char* kRCNFetchResponseKeyPersonalizationMetadata = "personalizationMetadata";
inline constexpr const char* kRCNFetchResponseKeyExperimentDescriptions = "experimentDescriptions";
inline constexpr const char* kRCNFetchResponseKeyError = "error";
inline constexpr const char* kRCNFetchResponseKeyStateNoChange = "NO_CHANGE";
inline constexpr const char* kRCNFetchResponseKeyStateEmptyConfig = "EMPTY_CONFIG";
inline constexpr const char* kRCNFetchResponseKeyStateNoTemplate = "NO_TEMPLATE";
inline constexpr const char* kRCNFetchResponseKeyStateUpdate = "UPDATE";

// Where the fetch service lives: the Info.plist value "ZirezizeRemoteConfigAPIOrigin" (scheme and
// host, no trailing slash), else the production origin.
inline constexpr const char* kRCNFetchAPIOriginInfoKey = "ZirezizeRemoteConfigAPIOrigin";
inline constexpr const char* kRCNFetchDefaultAPIOrigin = "https://zirezizeremoteconfig.deruruapis.com";

// Limits on bytes from outside the program.
// A fetch answer: at most 8 MiB of JSON, nested at most 64 levels.
inline constexpr ZODJSONLimits kRCNFetchResponseLimits{8u << 20, 64};
// A JSON blob read back from the configuration database (metadata, personalization, experiment
// metadata): the same limits as the answers it came from.
inline constexpr ZODJSONLimits kRCNStoredJSONLimits{8u << 20, 64};
// A value row of the database: larger values are skipped as damaged.
inline constexpr size_t kRCNMaxStoredValueBytes = 8u << 20;
// Rows read from one table in one load; further rows are ignored with an error line.
inline constexpr size_t kRCNMaxRowsPerLoad = 200000;
// How long a statement waits for another connection (another instance of the app on the same
// home) to let go of the database file before it fails with "database is locked".
inline constexpr int kRCNDatabaseBusyTimeoutMilliseconds = 2000;
// A defaults property-list file: at most 8 MiB (nesting is bounded by the property-list reader).
inline constexpr size_t kRCNMaxDefaultsFileBytes = 8u << 20;
