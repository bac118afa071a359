#pragma once
// Capture from a PulseAudio server (also served by PipeWire desktops). One process-wide
// connection runs a threaded main loop; its thread is the render thread of every PulseAudio
// input. The server is the one PULSE_SERVER names, else the user's default; it is never spawned.
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/AudioInputBackend.h"

struct pa_threaded_mainloop;
struct pa_context;

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
bool isConnected();
// The sources of the server, in the server's order; empty when no server answers.
std::vector<PulseSourceInfo> listSources();
// The server's default source name; empty when unknown.
std::string defaultSourceName();
// The process-wide connection's main loop and context, for the playback streams; null before the
// first connection. The context may be used only with the main loop's lock held.
pa_threaded_mainloop* sharedMainloop();
pa_context* sharedContext();
}  // namespace pulse

class PulseAudioInput : public AudioInputBackend {
 public:
  // `sourceName` empty: the server's default source.
  static std::shared_ptr<PulseAudioInput> create(std::string sourceName);
  ~PulseAudioInput() override;
  std::string identifier() const override;
  const std::string& sourceName() const { return sourceName_; }

 protected:
  OSStatus startCapture() override;

 private:
  explicit PulseAudioInput(std::string sourceName);
  struct Stream;
  std::string sourceName_;
  std::unique_ptr<Stream> stream_;
};
