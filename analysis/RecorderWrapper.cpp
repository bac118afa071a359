#include "analysis/RecorderWrapper.h"

#include "platform/foundation/NSObjCRuntime.h"

// A recorder class would register itself under this name; none does in this system, so each
// operation finds nothing to forward to.
std::shared_ptr<void> RecorderWrapper::recorderObject() {
  (void)NSClassFromString("vlxRecorder");
  return nullptr;
}

int32_t RecorderWrapper::calibratedValue() { return 0; }

void RecorderWrapper::sendFixesArray(const Value&) {}
