#include "sdk/installations/RARUruzariduzuraBackoffController.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/foundation/Clock.h"
#include "platform/security/Crypto.h"

namespace {
constexpr double kUnrecoverableBackoff = 24 * 60 * 60;
constexpr double kMaxRecoverableBackoff = 30 * 60;
}  // namespace

RARUruzariduzuraBackoffEventData::RARUruzariduzuraBackoffEventData(int64_t eventType,
                                                                   double lastEventDate,
                                                                   int64_t eventCount)
    : eventType_(eventType),
      lastEventDate_(lastEventDate),
      eventCount_(eventCount),
      backoffTimeInterval_(backoffTimeIntervalWithEvent(eventType, eventCount)) {}

double RARUruzariduzuraBackoffEventData::backoffTimeIntervalWithEvent(int64_t eventType,
                                                                      int64_t eventCount) {
  switch (eventType) {
    case RARUruzariduzuraBackoffEventSuccess:
      return 0;
    case RARUruzariduzuraBackoffEventRecoverableFailure:
      return recoverableErrorBackoffTimeForAttemptNumber(eventCount);
    case RARUruzariduzuraBackoffEventUnrecoverableFailure:
      return kUnrecoverableBackoff;
    default:
      return 0;
  }
}

double RARUruzariduzuraBackoffEventData::recoverableErrorBackoffTimeForAttemptNumber(int64_t n) {
  // 2^n overflows nothing we care about: past 2^11 the cap applies anyway.
  const double exponential = n >= 64 ? std::numeric_limits<double>::infinity()
                                     : std::pow(2.0, static_cast<double>(n));
  return std::min(exponential + randomMilliseconds(), kMaxRecoverableBackoff);
}

double RARUruzariduzuraBackoffEventData::randomMilliseconds() {
  const uint32_t random = security::randomUniform(1000);
  return (random % 1000) * 0.001;
}

RARUruzariduzuraCurrentDateProvider RARUruzariduzuraCurrentDateProviderDefault() {
  return [] { return Clock::now(); };
}

RARUruzariduzuraBackoffController::RARUruzariduzuraBackoffController()
    : RARUruzariduzuraBackoffController(RARUruzariduzuraCurrentDateProviderDefault()) {}

RARUruzariduzuraBackoffController::RARUruzariduzuraBackoffController(
    RARUruzariduzuraCurrentDateProvider provider)
    : currentDateProvider_(std::move(provider)) {}

void RARUruzariduzuraBackoffController::registerEvent(int64_t eventType) {
  std::lock_guard<std::mutex> lock(mutex_);
  const double now = currentDateProvider_();
  if (lastEventData_ && lastEventData_->eventType() == eventType) {
    lastEventData_ = std::make_shared<const RARUruzariduzuraBackoffEventData>(
        eventType, now, lastEventData_->eventCount() + 1);
  } else {
    lastEventData_ = std::make_shared<const RARUruzariduzuraBackoffEventData>(eventType, now, 1);
  }
}

bool RARUruzariduzuraBackoffController::isNextRequestAllowed() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!lastEventData_) return true;
  const double elapsed = currentDateProvider_() - lastEventData_->lastEventDate();
  return elapsed >= lastEventData_->backoffTimeInterval();
}

std::shared_ptr<const RARUruzariduzuraBackoffEventData>
RARUruzariduzuraBackoffController::lastEventData() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastEventData_;
}
