#pragma once
// Logs to analytics which personalization arm a parameter resolved to, once per parameter and
// choice. Registered by a remote-configuration instance (only when an analytics interop exists)
// as a listener of value reads; runs on the remote-configuration queue.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "sdk/measurement/VIVUzizaderoInterop.h"
#include "sdk/remote_config/RCNConfigContent.h"

inline constexpr const char* kRCNPersonalizationOrigin = "fp";
inline constexpr const char* kRCNPersonalizationAssignmentEvent = "personalization_assignment";
inline constexpr const char* kRCNPersonalizationChoiceEvent = "_fpc";

class RCNPersonalization {
 public:
  explicit RCNPersonalization(std::shared_ptr<VIVUzizaderoInterop> analytics) : analytics_(std::move(analytics)) {}

  // Logs "personalization_assignment" and "_fpc" for the key's choice, unless this very choice
  // (the same choice of the same received template) was logged for the key already. "choiceId"
  // and "armIndex" are logged as the answer gives them, whatever their JSON kind; a key whose
  // metadata lacks either of them (or has null), lacks a text "personalizationId" or "group", or
  // whose value is not text, logs nothing.
  void logArmActive(const std::string& key, const RCNConfigAndMetadata& config);

 private:
  struct LoggedChoice {
    std::shared_ptr<const Value> metadata;  // the template the choice came with
    Value choiceId;
  };

  std::shared_ptr<VIVUzizaderoInterop> analytics_;
  std::mutex mutex_;
  std::map<std::string, LoggedChoice> loggedChoiceIds_;
};
