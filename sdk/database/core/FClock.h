#pragma once
// A source of the current time, in seconds since 1970 (fractions included), so that the database
// can follow the server's notion of time.
#include <memory>

class FClock {
 public:
  virtual ~FClock() = default;
  virtual double currentTime() const = 0;
};

using FClockRef = std::shared_ptr<const FClock>;
