#pragma once
// An event that tells a listener its query was cancelled (the server refused the listen), with
// the error for its cancel callback.
#include "sdk/database/core/FEvent.h"
#include "sdk/database/core/FEventRegistration.h"

class FCancelEvent : public FEvent {
 public:
  FCancelEvent(FEventRegistrationRef eventRegistration, NSErrorRef error, FPathRef path);

  const FEventRegistrationRef& eventRegistration() const { return eventRegistration_; }
  const NSErrorRef& error() const { return error_; }

  FPathRef path() const override { return path_; }
  void fireEventOnQueue(const DispatchQueueRef& queue) const override;
  bool isCancelEvent() const override { return true; }
  // "<path>: cancel"
  std::string description() const override { return path_->toString() + ": cancel"; }

 private:
  FEventRegistrationRef eventRegistration_;
  NSErrorRef error_;
  FPathRef path_;
};
