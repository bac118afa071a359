#pragma once
// Which audio server a test process may reach. The shared server of the test run (PULSE_SERVER,
// published by scripts/test-services) is reachable only from the programs that sa_test marks
// AUDIO_SERVER (ctest runs their tests one at a time); every other test process is pointed at a
// server that does not exist, so nothing it starts can play into or record from the shared sink,
// nor from a desktop user's own server.
#include <string>

namespace testsupport {

// Called (before main) by the programs marked AUDIO_SERVER.
void declareUsesSharedAudioServer();
bool usesSharedAudioServer();

// Called by the test main: unless the program uses the shared server, PULSE_SERVER is set to a
// socket in the application home that no server listens on.
void isolateFromSharedAudioServer(const std::string& home);

}  // namespace testsupport
