#pragma once
// Connecting a test to its audio server. The connection never waits for the server, so a test that
// needs it ready (and the server's sources listed) waits here, serving the main run loop meanwhile.
// Header only: the tests that include it link the platform's audio library.
#include <pulse/thread-mainloop.h>

#include <string>

#include "platform/audio/PulseAudioConnection.h"
#include "tests/support/WaitFor.h"

namespace testsupport {

// Whether the connection got ready, with the server's sources known, within `seconds`; *error says
// why not.
inline bool connectToAudioServer(std::string* error = nullptr, double seconds = 10) {
  const bool connected = waitFor([] {
    bool known = false;
    pulse::listSources(&known);
    return pulse::ensureConnected() && known;
  }, seconds);
  if (!connected && error) {
    pulse::ensureConnected(error);
    if (error->empty()) *error = "the audio server's sources were not listed";
  }
  return connected;
}

// Drops whatever connection there is, made or being made, as the application does with a server
// that does not answer: the next request connects anew, as the first one of a process does.
inline void dropAudioServerConnection() {
  pa_threaded_mainloop* mainloop = pulse::sharedMainloop();
  if (!mainloop) return;
  pa_threaded_mainloop_lock(mainloop);
  pulse::dropUnresponsive();
  pa_threaded_mainloop_unlock(mainloop);
}

}  // namespace testsupport
