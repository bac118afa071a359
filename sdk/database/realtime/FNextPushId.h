#pragma once
// Push identifiers: 20 characters, 8 for the time in milliseconds and 12 random ones, from an
// alphabet in ascending character order, so identifiers sort by the time they were made (in the
// child key order, which compares such keys by their characters). Within one millisecond, or when
// the clock handed in goes back (the server time offset changed), the time of the previous
// identifier is kept and its random part counted up by one, so every identifier of the process
// sorts after the one before. Safe from any thread.
#include <string>

class FNextPushId {
 public:
  static constexpr const char* kPushChars = "-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";

  // `now`: seconds since 1970 (the repository's server time).
  static std::string get(double now);
};
