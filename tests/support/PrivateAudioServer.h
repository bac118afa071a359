#pragma once
// A PulseAudio server of a test's own: a null sink on a socket in a private folder, which the
// test starts, kills and starts again (at the same address) as it pleases. Constructing one points
// this process's PULSE_SERVER at it, so nothing in the test touches the shared server of the run or
// a desktop's own.
#include <string>
#include <vector>
#include <sys/types.h>

namespace testsupport {

class PrivateAudioServer {
 public:
  // Whether the pulseaudio program is installed (tests skip without it).
  static bool available();

  explicit PrivateAudioServer(std::string sinkName = "private_sink");
  ~PrivateAudioServer();  // kills the server if it runs and removes its folder
  PrivateAudioServer(const PrivateAudioServer&) = delete;
  PrivateAudioServer& operator=(const PrivateAudioServer&) = delete;

  // Starts the server and waits (up to 20 s) until it answers; false with the reason (and the
  // server's log) otherwise.
  bool start(std::string* error = nullptr);
  // Kills the server at once (as a crash would) and waits for it to end.
  void kill();
  bool isRunning() const { return pid_ > 0; }
  // Stops the server's process where it stands (its socket stays open, nothing answers) and lets
  // it go on again.
  void freeze();
  void thaw();

  // Runs pactl against this server through the shell (arguments are shell words); returns its
  // output without the trailing newline (a module's index for load-module).
  std::string pactl(const std::string& arguments) const;
  // The indexes of the capture and of the playback streams that clients hold on the server
  // (streams of the server's own modules, which belong to no client, are not counted).
  std::vector<std::string> clientCaptureStreams() const { return clientStreams("source-outputs"); }
  std::vector<std::string> clientPlaybackStreams() const { return clientStreams("sink-inputs"); }

  const std::string& address() const { return address_; }  // "unix:<socket>"
  const std::string& sinkName() const { return sinkName_; }
  std::string monitorName() const { return sinkName_ + ".monitor"; }

 private:
  bool answers() const;
  std::vector<std::string> clientStreams(const std::string& kind) const;
  std::string dir_;
  std::string address_;
  std::string sinkName_;
  pid_t pid_ = 0;
};

}  // namespace testsupport
