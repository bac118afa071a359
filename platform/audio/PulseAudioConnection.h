#pragma once
// The process-wide connection to a PulseAudio server (also served by PipeWire desktops), shared by
// capture, playback and the audio session. It runs one threaded main loop; that loop's thread is
// the render thread of every PulseAudio stream. The server is the one PULSE_SERVER names, else the
// user's default; it is never spawned. A server that goes away is posted on the main queue as the
// session's media-services reset; sources appearing or going, and the sources of a server connected
// to again after one was lost, as a change of the session's inputs.
//
// Nothing here waits for the server. Connecting, listing, opening and closing streams are asked of
// it, and its answers are handled on the connection's thread as they come: what the process knows
// of the server's sources and of its default source is kept from those answers and from the
// server's events, and read from memory. A server that has not made a connection or a stream ready
// within kReadyTimeoutMilliseconds is taken for hung: the connection is dropped as if the server
// had gone (when the server gets to it, it frees everything this process had opened there), and
// the next request connects anew.
//
// Threads: every function may be called from any thread unless it says otherwise. The connection
// is kept for the life of the process (its thread may deliver to sinks right up to exit), so its
// main loop, once started, stays valid; its context is replaced on every connection and may be
// used only with the main loop's lock held.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/audio/AudioTypes.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

struct PulseSourceInfo {
  std::string name;         // the server's source name: the port's UID
  std::string description;  // human-readable name
  bool isMonitor = false;   // the monitor of a sink
  std::string bus;          // device.bus property ("usb", "bluetooth", "pci", ...), may be empty
  std::string formFactor;   // device.form_factor ("headset", "microphone", "internal", ...)
  std::vector<std::string> portNames;         // the source's ports
  std::vector<std::string> portDescriptions;  // their descriptions
  std::string activePort;
};

namespace pulse {

// How long a connection or a stream may take to get ready before the server is taken for hung.
constexpr int kReadyTimeoutMilliseconds = 3000;

// The connection's main loop, started on first use (no server is asked for that); null when it
// cannot start. Once started it stays valid.
pa_threaded_mainloop* sharedMainloop();

// Whether the connection is ready now. When it is not, a connection is begun unless one is
// underway, and *error says why there is none: the last attempt's failure, or that one is underway.
bool ensureConnected(std::string* error = nullptr);
// Whether a connection is ready or being made (not refused); begins one as ensureConnected does.
bool connectionAlive();

// The sources of the server, in the server's order, as its last answer gave them; empty while no
// connection is ready or before its first answer (*known says which). Begins a connection as
// ensureConnected does.
std::vector<PulseSourceInfo> listSources(bool* known = nullptr);
// Waits at most `seconds` until the server's sources are known (listSources) or the connection
// has been refused, beginning a connection as ensureConnected does; whether they are known. The
// one wait for the server in the process: for start-up alone, before any window, so that an input
// named wrong is refused with the names the server has.
bool waitForSources(double seconds);
// For tests that run many in one process: any connection is let go of (its clients told, nothing
// posted), and what the connection knew of the server (its sources, that one answered before) is
// forgotten, as in a process just started. Does not start the main loop.
void forgetServer();
// How often the main thread has had to wait for the server here (waitForSources before the
// sources were known and the connection refused), however briefly: for tests that hold the
// main thread to never waiting for the server once start-up's check is over.
uint64_t mainThreadWaits();
// The server's default source name as its last answer gave it; empty when unknown.
std::string defaultSourceName();
// Why the last connection ended or could not be made; empty while one is ready or none was tried.
std::string connectionFailure();
// Whether the server's last answer lists its sources without one named `name` (not merely nothing
// known yet). Begins no connection.
bool sourceMissing(const std::string& name);

// Told, on the connection's thread with the main loop's lock held, when a connection is ready and
// when one was lost or could not be made (the server went away, refused or did not answer in
// time): every stream of that connection is gone then, and `status` says why.
class ConnectionClient {
 public:
  virtual void connectionReady() = 0;
  virtual void connectionLost(OSStatus status) = 0;

 protected:
  ~ConnectionClient() = default;
};

// The rest: with the main loop's lock held.
//
// Registers or unregisters a client (a client unregisters before it goes).
void addClient(ConnectionClient* client);
void removeClient(ConnectionClient* client);
// The context while the connection is ready, else null; use it only while still holding the lock.
pa_context* sharedContext();
// Whether a connection is being made now (neither ready nor refused yet).
bool connecting();
// Begins a connection unless one is ready or underway; a failure is told to the clients.
void connect();
// The server did not answer in time: the connection is dropped as lost, told to the clients
// (kAudioUnitErr_NoConnection), and no reset is posted (nothing was lost that worked).
void dropUnresponsive();
// Arms a timer that calls dropUnresponsive unless it is freed first; for a request to the server
// that must be answered within kReadyTimeoutMilliseconds. Null when the loop cannot make one.
struct ResponseTimer;
ResponseTimer* armResponseTimer();
void freeResponseTimer(ResponseTimer*& timer);
// Lets go of a stream of ours (and of our reference to it) without waiting: its callbacks are
// cleared, a ready stream is disconnected now, and one the server has not made ready yet is
// disconnected once it is (a server that does not make it ready in time is taken for hung, as
// above), so that the server keeps nothing opened for nobody.
void releaseStream(pa_stream* stream);

// Called from PulseAudio's callbacks (C frames below): posting allocates, and nothing may throw
// out of a callback, so a failure to post is logged and dropped.
void postOnMain(std::function<void()> block) noexcept;

}  // namespace pulse
