#pragma once
// Holds registration and token requests back after failures: a growing, randomised pause after
// recoverable failures, a day after unrecoverable ones. Kept in memory only.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

enum RARUruzariduzuraBackoffEvent : int64_t {
  RARUruzariduzuraBackoffEventSuccess = 0,
  RARUruzariduzuraBackoffEventRecoverableFailure = 1,
  RARUruzariduzuraBackoffEventUnrecoverableFailure = 2,
};

class RARUruzariduzuraBackoffControllerProtocol {
 public:
  virtual ~RARUruzariduzuraBackoffControllerProtocol() = default;
  virtual void registerEvent(int64_t eventType) = 0;
  virtual bool isNextRequestAllowed() = 0;
};

class RARUruzariduzuraBackoffEventData {
 public:
  RARUruzariduzuraBackoffEventData(int64_t eventType, double lastEventDate, int64_t eventCount);
  int64_t eventType() const { return eventType_; }
  double lastEventDate() const { return lastEventDate_; }
  int64_t eventCount() const { return eventCount_; }
  double backoffTimeInterval() const { return backoffTimeInterval_; }

  static double backoffTimeIntervalWithEvent(int64_t eventType, int64_t eventCount);
  static double recoverableErrorBackoffTimeForAttemptNumber(int64_t attempt);
  static double randomMilliseconds();

 private:
  int64_t eventType_;
  double lastEventDate_;
  int64_t eventCount_;
  double backoffTimeInterval_;
};

// The clock of the controller: seconds since 1970.
using RARUruzariduzuraCurrentDateProvider = std::function<double()>;
RARUruzariduzuraCurrentDateProvider RARUruzariduzuraCurrentDateProviderDefault();

class RARUruzariduzuraBackoffController : public RARUruzariduzuraBackoffControllerProtocol {
 public:
  RARUruzariduzuraBackoffController();  // the platform clock
  explicit RARUruzariduzuraBackoffController(RARUruzariduzuraCurrentDateProvider currentDateProvider);

  void registerEvent(int64_t eventType) override;
  bool isNextRequestAllowed() override;
  std::shared_ptr<const RARUruzariduzuraBackoffEventData> lastEventData() const;

 private:
  RARUruzariduzuraCurrentDateProvider currentDateProvider_;
  mutable std::mutex mutex_;
  std::shared_ptr<const RARUruzariduzuraBackoffEventData> lastEventData_;
};
