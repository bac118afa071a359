#pragma once
// Audio callbacks are called from C (PulseAudio's threads) or on a render thread that nothing
// above would catch on: an exception from the code they run (a sink, a source, the render
// callback behind them) must stop at the callback, not unwind through C frames or end the process.
// runGuarded runs the body and swallows what it throws, after a log line; the caller then does
// what keeps the stream sound (silence for the samples not rendered, the next sink, the signal a
// waiter needs). Free of locks and allocation unless something was thrown.
#include <atomic>

namespace audio {

// Logs the exception being handled; only the first few, so that a callback failing every few
// milliseconds does not flood the log.
void logCallbackException(const char* where) noexcept;

template <class Body>
bool runGuarded(const char* where, Body&& body) noexcept {
  try {
    body();
    return true;
  } catch (...) {
    logCallbackException(where);
    return false;
  }
}

}  // namespace audio
