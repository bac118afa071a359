#pragma once
#include <cstdint>
// Names shared by the experiment bookkeeping classes.

inline constexpr const char* kABTErrorDomain = "com.deruru.abtesting";
inline constexpr int64_t kABTInternalErrorFailedToFetchConditionalUserProperties = 1;

inline constexpr const char* kABTLoggerService = "[Zirezize/ABTesting]";

// Overflow policies when an origin's conditional user properties are at their maximum.
inline constexpr int kABTOverflowPolicyUnspecified = 0;
inline constexpr int kABTOverflowPolicyDiscardOldest = 1;
inline constexpr int kABTOverflowPolicyIgnoreNewest = 2;
inline constexpr int kABTOverflowPolicyUnrecognized = 999;
