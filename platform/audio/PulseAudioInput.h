#pragma once
// Capture from a PulseAudio server (also served by PipeWire desktops) over the process-wide
// connection (PulseAudioConnection.h): its main loop's thread is the render thread of every
// PulseAudio input.
//
// Nothing here waits for the server. A start asks the server for a record stream (connecting
// first when there is no connection) and returns; the stream delivers once the server has made it
// ready. When it cannot (no server answers, it does not answer in time, the source is not there)
// the failure reaches the main thread: the audio session may have the capture read another input
// (a chosen source that is gone), else every sink is told why and the capture stops
// (AudioInputBackend::failCapture).
//
// The source it reads can change while it captures (moveToSource): the audio session keeps one
// such input for the whole process and moves it with the route, as the phone moves every capture
// of an application to the input it chose. A capture of a named source never hands on what
// another source hears: when the server moves it elsewhere it delivers nothing until it is moved
// (AVAudioSession::serverCaptureLeftItsSource decides where). A capture of the default source that
// the server moves (the default changed, its source went) is moved as if asked to: a stream of its
// own on the default takes over, for what the server sends of the moved one first may still be
// the source before's.
#include <atomic>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/audio/AudioInputBackend.h"
#include "platform/audio/PulseAudioConnection.h"

struct pa_stream;

class PulseAudioInput : public AudioInputBackend, private pulse::ConnectionClient {
 public:
  // `sourceName` empty: the server's default source.
  static std::shared_ptr<PulseAudioInput> create(std::string sourceName);
  ~PulseAudioInput() override;
  // "pulse" or "pulse:<source>": the source it is asked to read.
  std::string identifier() const override;

  // Any thread but the connection's; never waits for the server. From now on the capture reads
  // `sourceName` (empty: the server's default source). A capture that runs is moved there without
  // being stopped: a stream on the new source takes over the deliveries from the one before as
  // soon as the server has made it ready, so every sink stays. The source before is not the input
  // any more: until then nothing is delivered (what the stream before captures meanwhile is not
  // handed on), and the new source's first delivery does not continue its last. Nothing is done
  // when the capture already reads that source (also when the server moved it there itself). A
  // new source that cannot be read is a failure of the capture (see the top of this file).
  // Returns noErr, or kAudioUnitErr_NoConnection when the connection's main loop cannot run.
  OSStatus moveToSource(const std::string& sourceName);
  // Any thread, from memory: the server's name of the source the delivering stream reads (for the
  // default source, the one the server gave it); empty when none delivers.
  std::string capturedSourceName() const;
  // Since the server made the stream that delivers ready, and the capture last asked for none on
  // another source: a stream being made delivers nothing, however long the server takes.
  std::optional<double> deliverableSince() const override;
  // Also while the stream on another source is being made, or the stream the server moved still
  // holds what it captured before the move.
  bool awaitsNewSource() const override;

 protected:
  // Asks the server for the stream and returns (see the top of this file).
  OSStatus startCapture() override;
  // Closes the stream, or the one the server is still making: the server holds no capture of this
  // application for it any more once it has got to the request.
  void stopCapture() override;

 private:
  explicit PulseAudioInput(std::string sourceName);
  struct Stream;

  // The rest: with the connection's main loop locked.
  void connectionReady() override;
  void connectionLost(OSStatus status) override;
  // Brings the streams to what is wanted: a stream on the target source opening or delivering
  // while the capture runs.
  void pump();
  // Asks the server for a record stream on `source` ("" the default source): it delivers nothing
  // until it takes over, and the one that delivered delivers nothing more meanwhile.
  void open(const std::string& source);
  // The stream the server has just made ready becomes the one that delivers; the one before goes.
  void takeOver();
  static void release(std::unique_ptr<Stream>& stream);
  // The capture cannot read `source`: told on the main thread (reportFailure).
  void fail(OSStatus status, const std::string& source);
  // Main thread.
  void reportFailure(uint64_t attempt, OSStatus status, const std::string& source);
  bool isCurrentAttempt(uint64_t attempt) const;
  // The connection's thread: what the server captured, handed on in deliveries of the session's
  // preferred length (null samples: a hole in the capture, handed on as silence).
  static void onRead(pa_stream* stream, size_t bytes, void* userdata);
  // Whether the delivering stream still reads the named source it was connected to. The server
  // moves a stream whose source goes away to another; such a stream delivers nothing from then
  // on, and the audio session is told (on the main thread).
  void checkSource(Stream& stream);
  void deliverCaptured(const float* samples, uint32_t frames);
  // After the streams changed: what capturedSourceName and deliverableSince say.
  void noteDeliveringStream();

  // Guards the names alone, so that identifier() and capturedSourceName() wait for nothing.
  mutable std::mutex nameMutex_;
  std::string sourceName_;    // the source it is asked to read
  std::string capturedName_;  // the one the delivering stream reads
  // Clock::monotonic of deliverableSince; NaN for none. Written with the main loop locked.
  std::atomic<double> deliverableSince_{std::numeric_limits<double>::quiet_NaN()};
  std::atomic<bool> movingToAnotherSource_{false};  // for awaitsNewSource, written with it

  // With the main loop's lock held.
  bool wanted_ = false;      // between startCapture and stopCapture
  std::string target_;       // sourceName_, for the connection's thread
  uint64_t attempt_ = 0;     // bumped by every start, stop and stream asked for
  uint32_t deliveryFrames_ = 1;  // the session's preferred length when the capture started
  std::unique_ptr<Stream> stream_;   // the one that delivers
  std::unique_ptr<Stream> pending_;  // the one the server is making, to take over from stream_
  bool registered_ = false;          // a client of the connection
};
