#pragma once
// Capture from a PulseAudio server (also served by PipeWire desktops) over the process-wide
// connection (PulseAudioConnection.h): its main loop's thread is the render thread of every
// PulseAudio input.
//
// The source it reads can change while it captures (moveToSource): the audio session keeps one
// such input for the whole process and moves it with the route, as the phone moves every capture
// of an application to the input it chose. A capture of a named source never hands on what
// another source hears: when the server moves it elsewhere it delivers nothing until it is moved
// (AVAudioSession::serverCaptureLeftItsSource decides where).
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio/AudioInputBackend.h"

struct pa_stream;

class PulseAudioInput : public AudioInputBackend {
 public:
  // `sourceName` empty: the server's default source.
  static std::shared_ptr<PulseAudioInput> create(std::string sourceName);
  ~PulseAudioInput() override;
  // "pulse" or "pulse:<source>": the source it is asked to read.
  std::string identifier() const override;

  // Any thread but the connection's. From now on the capture reads `sourceName` (empty: the
  // server's default source). A capture that runs already is moved there at once, without being
  // stopped: a stream on the new source takes over the deliveries from the one before as soon as
  // it is ready, so every sink stays and no delivery comes twice. Nothing is done when the
  // capture already reads that source (also when the server moved it there itself). Returns
  // noErr, or why the new source cannot be read (the capture then reads, and is named after, what
  // it read before).
  OSStatus moveToSource(const std::string& sourceName);
  // Any thread but the connection's: the server's name of the source the running capture reads
  // (for the default source, the one the server gave it); empty when it does not run.
  std::string capturedSourceName() const;

 protected:
  OSStatus startCapture() override;
  // Closes the stream: the server holds no capture of this application for it any more.
  void stopCapture() override;

 private:
  explicit PulseAudioInput(std::string sourceName);
  struct Stream;
  // With the connection's main loop locked: a ready record stream on `source` (empty: the default
  // source) that delivers nothing yet; null with *status set when there is none.
  std::unique_ptr<Stream> openStream(const std::string& source, OSStatus* status);
  // With the main loop locked: `stream` becomes the one that delivers; the one before is closed.
  void takeOver(std::unique_ptr<Stream> stream);
  static void closeStream(Stream& stream);
  // The connection's thread: what the server captured, handed on in deliveries of the session's
  // preferred length (null samples: a hole in the capture, handed on as silence).
  static void onRead(pa_stream* stream, size_t bytes, void* userdata);
  // With the main loop locked: whether the delivering stream still reads the named source it was
  // connected to. The server moves a stream whose source goes away to another; such a stream
  // delivers nothing from then on, and the audio session is told (on the main thread).
  void checkSource(Stream& stream);
  void deliverCaptured(const float* samples, uint32_t frames);

  // Serialises starting and moving the capture (taken before the connection's locks, never with
  // the session's).
  std::mutex moveMutex_;
  // Guards sourceName_ alone, so that identifier() waits for no server.
  mutable std::mutex nameMutex_;
  std::string sourceName_;
  // Frames per delivery: the session's preferred length when the capture started (written and
  // read with the connection's lock held).
  uint32_t deliveryFrames_ = 1;
  // The stream that delivers: changed with moveMutex_ and the main loop's lock held.
  std::unique_ptr<Stream> stream_;
};
