#pragma once
// The back-off between connection attempts: the first attempt (and the first after a success) is
// immediate; after that the delay starts at 1 s and grows by 1.3 per failure up to 30 s, and each
// wait is jittered to between 30 % and 100 % of the delay, so that many clients dropped at once
// do not return at once. Used on the connection's queue only.
#include <functional>

class FRetryHelper {
 public:
  static constexpr double kMinRetryDelayAfterFailure = 1.0;
  static constexpr double kMaxRetryDelay = 30.0;
  static constexpr double kRetryExponent = 1.3;
  static constexpr double kJitterFactor = 0.7;

  // `random` answers uniformly in [0, 1); FUtilities::randomDouble by default.
  explicit FRetryHelper(std::function<double()> random = nullptr);

  // The seconds to wait before the next attempt.
  double nextDelay();
  // The next attempt is immediate and the delay starts over.
  void signalSuccess();
  // The delay before the jitter that the last nextDelay used (0 for an immediate attempt).
  double currentDelay() const { return currentDelay_; }

 private:
  std::function<double()> random_;
  double currentDelay_ = 0;
  bool immediate_ = true;
};
