#pragma once
// The process-wide connection to a PulseAudio server (also served by PipeWire desktops), shared by
// capture, playback and the audio session. It runs one threaded main loop; that loop's thread is
// the render thread of every PulseAudio stream. The server is the one PULSE_SERVER names, else the
// user's default; it is never spawned. A server that goes away is posted on the main queue as the
// session's media-services reset; sources appearing or going, and the sources of a server connected
// to again after one was lost, as a change of the session's inputs.
//
// Threads: every function may be called from any thread. The connection is kept for the life of
// the process (its thread may deliver to sinks right up to exit), so its main loop, once started,
// stays valid; its context may be replaced on reconnection and may be used only with the main
// loop's lock held.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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
// Connects when not connected. False (with a reason) when no server answers.
bool ensureConnected(std::string* error = nullptr);
// The sources of the server, in the server's order; empty when no server answers.
std::vector<PulseSourceInfo> listSources();
// The server's default source name; empty when unknown.
std::string defaultSourceName();
// The process-wide connection's main loop, for the playback streams; null before the first
// connection. Once started it stays valid.
pa_threaded_mainloop* sharedMainloop();
// The connection's context while it is ready, else null. Call it with the main loop's lock held
// and use the context only while still holding it: a reconnection may replace it otherwise.
pa_context* sharedContext();

// The connection's state, for the capture streams. `mutex` guards (re)connection from client
// threads: `mainloop` and `context` change with it held (and `context` with the main loop's lock
// too); `ready` is read and written with the main loop's lock held.
struct Connection {
  std::mutex mutex;
  pa_threaded_mainloop* mainloop = nullptr;
  pa_context* context = nullptr;
  bool ready = false;
  bool everReady = false;
  uint64_t generation = 0;  // bumped on every new context

  static Connection& shared();
};

// How long a connection or a stream may take to get ready. A server that accepts the socket but
// never answers would otherwise hold the caller (often the main thread) for good.
constexpr int kReadyTimeoutMilliseconds = 3000;

// Waits, with the main loop's lock held, until `ready` says it is done (true) or has failed
// (false), or kReadyTimeoutMilliseconds pass (false, *timedOut set).
bool waitWithTimeout(pa_threaded_mainloop* mainloop, const std::function<std::optional<bool>()>& ready,
                     bool* timedOut);
// waitWithTimeout until `stream` is ready (true) or has failed (false).
bool waitForStreamReady(pa_threaded_mainloop* mainloop, pa_stream* stream, bool* timedOut);

// Called from PulseAudio's callbacks (C frames below): posting allocates, and nothing may throw
// out of a callback, so a failure to post is logged and dropped.
void postOnMain(std::function<void()> block) noexcept;
}  // namespace pulse
