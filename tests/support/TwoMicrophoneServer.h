#pragma once
// An audio server of a test's own with two microphones that hear different tones: a built-in one
// (the server's default source) that hears 1 kHz and a USB one, which the test plugs in and
// unplugs, that hears 440 Hz. Each is a source remapped from the monitor of a sink a tone plays
// into. Header only, as TonePlayer.h: the tests that include it link libpulse-simple and the
// platform's audio library.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/PulseAudioConnection.h"
#include "tests/support/AudioServerConnection.h"
#include "tests/support/PrivateAudioServer.h"
#include "tests/support/TonePlayer.h"

namespace testsupport {

class TwoMicrophoneServer {
 public:
  static constexpr double kBuiltInHz = 1000;  // what the built-in microphone hears
  static constexpr double kUSBHz = 440;       // what the USB microphone hears
  static constexpr const char* kBuiltIn = "test_builtin";
  static constexpr const char* kUSB = "test_usb";

  TwoMicrophoneServer() : server_("builtin_sink") {}

  // Starts the server with both microphones, the USB one plugged in, and points the process's audio
  // session at it alone (no test ports, no test input, the server's default source), connected.
  // A failure is the test's.
  void start() {
    auto& session = AVAudioSession::sharedInstance();
    session.setPortsForTesting(std::nullopt);
    session.setInputBackend(nullptr);
    session.setInputSpec("pulse");
    std::string error;
    ASSERT_TRUE(server_.start(&error)) << error;
    addMicrophones();
    ASSERT_TRUE(connectToAudioServer(&error)) << error;
  }
  // The microphones again, on a server that was started again.
  void addMicrophones() {
    load("module-null-sink sink_name=usb_sink");
    load(std::string("module-remap-source master=builtin_sink.monitor source_name=") + kBuiltIn +
         " \"source_properties=\\\"device.form_factor=internal device.description='Built-in Microphone'\\\"\"");
    server_.pactl(std::string("set-default-source ") + kBuiltIn);
    builtInTone_ = std::make_unique<TonePlayer>("builtin_sink", kBuiltInHz, 0.3);
    usbTone_ = std::make_unique<TonePlayer>("usb_sink", kUSBHz, 0.3);
    ASSERT_TRUE(builtInTone_->ok()) << builtInTone_->error();
    ASSERT_TRUE(usbTone_->ok()) << usbTone_->error();
    plugInUSB();
  }
  // Returns once the server has the source (pactl waits for its answer).
  void plugInUSB() {
    usbModule_ = load(std::string("module-remap-source master=usb_sink.monitor source_name=") + kUSB +
                      " \"source_properties=\\\"device.bus=usb device.description='USB Audio CODEC'\\\"\"");
  }
  // Returns once the server has removed the source; its news may still be on the way to the client.
  void unplugUSB() { server_.pactl("unload-module " + usbModule_); }
  // A microphone that stops delivering, or delivers again: its sink is suspended (the server
  // answers, but the source hands out nothing), or resumed.
  void stallBuiltIn(bool stalled) { server_.pactl(std::string("suspend-sink builtin_sink ") + (stalled ? "1" : "0")); }
  void stallUSB(bool stalled) { server_.pactl(std::string("suspend-sink usb_sink ") + (stalled ? "1" : "0")); }
  // The indexes of the capture streams that clients hold on the server (the remapped
  // microphones' own streams, which belong to no client, are not counted).
  std::vector<std::string> clientCaptureStreams() const { return server_.clientCaptureStreams(); }
  // Kills the server (the tones' streams go first).
  void kill() {
    builtInTone_.reset();
    usbTone_.reset();
    server_.kill();
  }
  bool restart(std::string* error) { return server_.start(error); }
  PrivateAudioServer& server() { return server_; }

 private:
  std::string load(const std::string& module) {
    const std::string index = server_.pactl("load-module " + module);
    EXPECT_FALSE(index.empty() || !std::isdigit(static_cast<unsigned char>(index[0]))) << module << ": " << index;
    return index;
  }
  PrivateAudioServer server_;
  std::unique_ptr<TonePlayer> builtInTone_, usbTone_;
  std::string usbModule_;
};

}  // namespace testsupport
