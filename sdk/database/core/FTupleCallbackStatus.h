#pragma once
// A put answer held back while some of its listens are still unacknowledged.
#include <functional>
#include <optional>
#include <string>

struct FTupleCallbackStatus {
  std::function<void(const std::string& status, const std::optional<std::string>& reason)> block;
  std::string status;                      // "ok" or a failure status
  std::optional<std::string> errorReason;  // the answer's reason, possibly absent
};
