#pragma once
// Every wait of the main thread for the audio server, however short: the platform's own
// (pulse::mainThreadWaits) and any wait on the connection's main loop for its news
// (pa_threaded_mainloop_wait, replaced in the program that links this file). A wait for a server
// that hangs lasts until it gives up, and a busy machine stretches a turn of the main loop as
// much: only counting the waits tells the two apart.
#include <cstdint>

namespace testsupport {

uint64_t mainThreadServerWaits();

}  // namespace testsupport
