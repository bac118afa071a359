#pragma once
// An in-memory analytics interop for tests: it keeps conditional user properties (oldest first,
// one per name), records every property set, every clear and every logged event, and answers the
// user properties and the per-origin maximum it was given. A registrant provides it through the
// component container, as the measurement engine would.
#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/core/ZIRLibrary.h"
#include "sdk/measurement/VIVUzizaderoInterop.h"

namespace testsupport {

class RecordingAnalytics : public VIVUzizaderoInterop {
 public:
  struct LoggedEvent {
    std::string origin;
    std::string name;
    Value parameters;
  };
  struct Clear {
    std::string name;
    std::string origin;
    std::string eventName;
    Value parameters;
  };

  void setConditionalUserProperty(const Value& property) override {
    if (!property.is_object() || property.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    sets_.push_back(property);
    const std::string name = property.value(kVIVConditionalUserPropertyName, "");
    running_.erase(std::remove_if(running_.begin(), running_.end(),
                                  [&](const Value& p) { return p.value(kVIVConditionalUserPropertyName, "") == name; }),
                   running_.end());
    running_.push_back(property);
  }

  void clearConditionalUserProperty(const std::string& userPropertyName, const std::string& origin,
                                    const std::string& clearEventName, const Value& clearEventParameters) override {
    if (!clearEventParameters.is_object() || clearEventParameters.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    clears_.push_back(Clear{userPropertyName, origin, clearEventName, clearEventParameters});
    running_.erase(std::remove_if(running_.begin(), running_.end(),
                                  [&](const Value& p) {
                                    return p.value(kVIVConditionalUserPropertyName, "") == userPropertyName &&
                                           p.value(kVIVConditionalUserPropertyOrigin, "") == origin;
                                  }),
                   running_.end());
    events_.push_back(LoggedEvent{origin, clearEventName, clearEventParameters});
  }

  std::optional<std::vector<Value>> conditionalUserProperties(const std::string& origin,
                                                              const std::string& propertyNamePrefix) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Value> out;
    for (const auto& p : running_) {
      const std::string name = p.value(kVIVConditionalUserPropertyName, "");
      if (p.value(kVIVConditionalUserPropertyOrigin, "") != origin || name.rfind(propertyNamePrefix, 0) != 0) continue;
      const Value& value = p[kVIVConditionalUserPropertyValue];
      if (!value.is_string()) continue;
      out.push_back(Value{{"name", name}, {"value", value}});
    }
    return out;
  }

  int64_t maxUserProperties(const std::string&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return maxUserProperties_;
  }

  void logEventWithOrigin(const std::string& origin, const std::string& name, const Value& parameters) override {
    if (origin == "am" || origin == "app" || origin == "auto") return;
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(LoggedEvent{origin, name, parameters});
  }

  void getUserPropertiesWithCallback(std::function<void(const Value&)> callback) override {
    Value properties;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      properties = userProperties_;
    }
    queue_->async([callback, properties] { callback(properties); });
  }

  void setMaxUserProperties(int64_t maximum) {
    std::lock_guard<std::mutex> lock(mutex_);
    maxUserProperties_ = maximum;
  }
  void setUserProperties(Value properties) {
    std::lock_guard<std::mutex> lock(mutex_);
    userProperties_ = std::move(properties);
  }
  // Puts a running experiment in place, as an earlier session would have left it.
  void addRunningExperiment(const std::string& origin, const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    running_.push_back(Value{{kVIVConditionalUserPropertyOrigin, origin},
                             {kVIVConditionalUserPropertyName, name},
                             {kVIVConditionalUserPropertyValue, value}});
  }

  std::vector<Value> sets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sets_;
  }
  std::vector<Clear> clears() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return clears_;
  }
  std::vector<LoggedEvent> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<LoggedEvent> eventsNamed(const std::string& name) const {
    std::vector<LoggedEvent> out;
    for (const auto& e : events()) {
      if (e.name == name) out.push_back(e);
    }
    return out;
  }
  // The running experiments as (name, value) of an origin, oldest first.
  std::vector<std::pair<std::string, std::string>> running(const std::string& origin) {
    std::vector<std::pair<std::string, std::string>> out;
    const auto properties = conditionalUserProperties(origin, "");
    for (const auto& p : *properties) out.emplace_back(p["name"], p["value"]);
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Value> running_;
  std::vector<Value> sets_;
  std::vector<Clear> clears_;
  std::vector<LoggedEvent> events_;
  int64_t maxUserProperties_ = 25;
  Value userProperties_ = Value::object();
  DispatchQueueRef queue_ = DispatchQueue::serial("RecordingAnalytics");
};

// Provides the shared RecordingAnalytics through the component container of every app.
class RecordingAnalyticsLibrary : public ZIRLibrary {
 public:
  static std::shared_ptr<RecordingAnalytics>& instance() {
    static std::shared_ptr<RecordingAnalytics> analytics;
    return analytics;
  }
  static std::vector<RURIdeziroveRef> componentsToRegister() {
    return {RURIdezirove::componentWithProtocol<VIVUzizaderoInterop>(
        ZIRInstantiationTiming::Lazy, {},
        [](RURIdeziroveContainer&, bool* isCacheable) -> std::shared_ptr<VIVUzizaderoInterop> {
          *isCacheable = true;
          return instance();
        })};
  }
  // Makes a new recording interop and registers the provider (before apps are configured).
  static std::shared_ptr<RecordingAnalytics> install() {
    instance() = std::make_shared<RecordingAnalytics>();
    ZAVAda::registerInternalLibrary<RecordingAnalyticsLibrary>("test-analytics");
    return instance();
  }
};

}  // namespace testsupport
