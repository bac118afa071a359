#include "sdk/remote_config/RCNPersonalization.h"

void RCNPersonalization::logArmActive(const std::string& key, const RCNConfigAndMetadata& config) {
  if (!analytics_) return;
  const auto& metadataObject = config.personalizationMetadata;
  if (!metadataObject || !metadataObject->is_object() || metadataObject->empty() || config.entries.empty()) return;
  auto entry = config.entries.find(key);
  if (entry == config.entries.end() || !entry->second) return;
  auto metadata = metadataObject->find(key);
  if (metadata == metadataObject->end() || !metadata->is_object()) return;
  auto choiceId = metadata->find("choiceId");
  if (choiceId == metadata->end() || choiceId->is_null()) return;

  // Every parameter of the assignment event must be there; a half-filled event is not logged.
  auto personalizationId = metadata->find("personalizationId");
  auto armIndex = metadata->find("armIndex");
  auto group = metadata->find("group");
  auto armValue = entry->second->stringValue();
  if (personalizationId == metadata->end() || !personalizationId->is_string() || armIndex == metadata->end() ||
      armIndex->is_null() || group == metadata->end() || !group->is_string() || !armValue) {
    return;
  }

  const Value& choice = *choiceId;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto logged = loggedChoiceIds_.find(key);
    if (logged != loggedChoiceIds_.end() && logged->second.metadata == metadataObject &&
        logged->second.choiceId == choice) {
      return;
    }
    loggedChoiceIds_[key] = LoggedChoice{metadataObject, choice};
  }

  Value parameters = Value::object();
  parameters["arm_key"] = key;
  parameters["arm_value"] = *armValue;
  parameters["personalization_id"] = *personalizationId;
  parameters["arm_index"] = *armIndex;
  parameters["group"] = *group;
  analytics_->logEventWithOrigin(kRCNPersonalizationOrigin, kRCNPersonalizationAssignmentEvent, parameters);
  analytics_->logEventWithOrigin(kRCNPersonalizationOrigin, kRCNPersonalizationChoiceEvent, Value{{"_fpid", choice}});
}
