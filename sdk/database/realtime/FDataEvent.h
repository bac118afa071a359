#pragma once
// An event that carries data: a snapshot for the listener's callback, its event type and, for
// child events, the key of the child before it in the query's order.
#include <optional>
#include <string>

#include "sdk/database/core/FChange.h"
#include "sdk/database/core/FEvent.h"
#include "sdk/database/core/FEventRegistration.h"
#include "sdk/database/realtime/ZIRDataSnapshot.h"

class FDataEvent : public FEvent {
 public:
  FDataEvent(FEventType eventType, FEventRegistrationRef eventRegistration, ZIRDataSnapshotRef snapshot,
             std::optional<std::string> prevName = std::nullopt);

  FEventType eventType() const { return eventType_; }
  const FEventRegistrationRef& eventRegistration() const { return eventRegistration_; }
  const ZIRDataSnapshotRef& snapshot() const { return snapshot_; }
  const std::optional<std::string>& prevName() const { return prevName_; }

  // The snapshot's own path for a value event, its parent's for a child event.
  FPathRef path() const override;
  void fireEventOnQueue(const DispatchQueueRef& queue) const override;
  bool isCancelEvent() const override { return false; }
  // "event <type>, data: <value>"
  std::string description() const override;

 private:
  FEventType eventType_;
  FEventRegistrationRef eventRegistration_;
  ZIRDataSnapshotRef snapshot_;
  std::optional<std::string> prevName_;
};
