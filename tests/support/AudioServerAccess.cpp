#include "tests/support/AudioServerAccess.h"

#include <cstdlib>

namespace testsupport {

namespace {
bool gUsesSharedServer = false;
}  // namespace

void declareUsesSharedAudioServer() { gUsesSharedServer = true; }
bool usesSharedAudioServer() { return gUsesSharedServer; }

void isolateFromSharedAudioServer(const std::string& home) {
  if (gUsesSharedServer) return;
  // Not unset: without PULSE_SERVER the client library would look for the user's own server.
  const std::string nowhere = "unix:" + home + "/no-audio-server";
  setenv("PULSE_SERVER", nowhere.c_str(), 1);
  unsetenv("SA_TEST_PULSE_SINK");
}

}  // namespace testsupport
