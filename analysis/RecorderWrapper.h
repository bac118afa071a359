#pragma once
// The bridge to a recorder class found by the name "vlxRecorder". This system has no such class,
// so the look-up finds none: recorderObject gives none, calibratedValue 0, and sendFixesArray does
// nothing. Kept so that callers written against the recorder need no change.
#include <cstdint>
#include <memory>

#include "platform/foundation/Value.h"

struct RecorderWrapper {
  static std::shared_ptr<void> recorderObject();
  static int32_t calibratedValue();
  static void sendFixesArray(const Value& fixes);
};
