#pragma once
// A capture source and its fan-out. One backend object owns one capture stream; every started
// remote I/O unit (and every recorder) that listens to the same input is a sink of it, so several
// live engines share the one input without opening it twice. The stream runs only while someone
// listens: it starts with the first sink and stops when the last one leaves, so an application
// that has stopped measuring holds no microphone. A chain that replaces another without a gap
// takes the other's place (replaceSink), and the stream goes on.
//
// Deliveries run on the backend's render thread. The fan-out takes no lock and allocates nothing:
// sinks live in a fixed table of atomic slots, and removeSink waits (on the caller's thread, with
// no lock held) until a delivery that may still see the removed sink has finished. A sink may
// leave from inside a delivery (its own stop): that takes no lock and does not wait.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/audio/AudioTypes.h"

class AudioInputSink {
 public:
  virtual ~AudioInputSink() = default;
  // Render thread: one delivery of mono samples at 44,100 Hz. Must not lock or allocate.
  virtual void audioInputDidCapture(const float* samples, uint32_t frames,
                                    const AudioTimeStamp& timeStamp) = 0;
  // The capture could not start, or ended for good (AudioInputBackend::failCapture): the sink was
  // taken off and gets nothing more. Called with the backend's add/remove lock held, so the sink's
  // owner cannot be removing it meanwhile: must not lock, wait or call the backend.
  virtual void audioInputDidFail(OSStatus) {}
};

class AudioInputBackend : public std::enable_shared_from_this<AudioInputBackend> {
 public:
  static constexpr int kMaxSinks = 32;
  // The longest delivery handed to a sink; longer captures are split.
  static constexpr uint32_t kMaxDeliveryFrames = 4096;
  // How far the sample time jumps where deliveries stop continuing each other (breakTimeline).
  static constexpr double kTimelineBreakFrames = kAudioSampleRate;

  virtual ~AudioInputBackend() = default;

  // A stable identifier of the input ("test", "pulse:<source>", "file:<path>").
  virtual std::string identifier() const = 0;

  // Adds a sink; the capture stream starts with the first sink. Returns noErr, or the status of a
  // capture stream that could not start (the sink is then not added), or kAudio_MemFullError
  // when every slot is taken.
  OSStatus addSink(AudioInputSink* sink);
  // `replacement` listens in the place of `current`: they swap in one slot, so that from one
  // delivery to the next every delivery that would have reached `current` reaches `replacement`
  // instead, none reaching both and none neither, and the capture stream goes on. A delivery to
  // `current` may still be running on return (removeSink(current) waits for it). When `current`
  // does not listen, as addSink(replacement).
  OSStatus replaceSink(AudioInputSink* current, AudioInputSink* replacement);
  // Starts the capture stream now, before any sink (nothing when it runs already): noErr, or why
  // it could not start. A caller whose sink then does not join calls stopCapturingIfIdle.
  OSStatus startCapturing();
  // Stops the capture stream when no sink listens (nothing otherwise). Not from inside a delivery.
  void stopCapturingIfIdle();
  // Removes a sink. Called from outside a delivery of this backend: on return the sink is not
  // running a delivery and will get none, also when it had already left from inside a delivery
  // that is still running; the capture stream stops when no sink is left. Called from inside a
  // delivery of this backend (on the render thread): takes no lock and does not wait, and the
  // current delivery may still finish; the stream of a capture left without sinks that way stops
  // at the next removal from outside (a unit's owner stops or disposes of it after its callback
  // stopped it) or stopCapturingIfIdle.
  void removeSink(AudioInputSink* sink);
  int sinkCount() const;
  // Whether the capture stream runs.
  bool isCapturing() const;
  // Any thread: since when (Clock::monotonic) the capture stream can deliver; none while it does
  // not run, or while the stream it will deliver from is still being made. What the input has not
  // delivered since then it has not captured: before then, the server may just be slow.
  virtual std::optional<double> deliverableSince() const;
  // Any thread: whether the capture reads another source from here on (breakTimeline) and has
  // delivered nothing of it yet: the first delivery that comes begins a new input by itself.
  virtual bool awaitsNewSource() const { return timelineBroken_.load(std::memory_order_acquire); }

  // Render thread: the status a unit's render of this input returns (noErr normally).
  virtual OSStatus renderStatus() const { return noErr; }

  // Not from inside a delivery. A capture whose stream is started asynchronously learns later that
  // it cannot run (its server does not answer, its source is not there), or that it has ended: every
  // sink is taken off and told why (AudioInputSink::audioInputDidFail), and the capture stream
  // stops, so that a start afterwards begins a new one. Nothing is done when it does not run, or
  // when `stillFailing` (asked under the add/remove lock; none: always) says the failure is old
  // news (the capture was stopped and started since).
  void failCapture(OSStatus status, const std::function<bool()>& stillFailing = nullptr);

 protected:
  AudioInputBackend() = default;
  // Called under the add/remove mutex when the first sink arrives.
  virtual OSStatus startCapture() = 0;
  // Called under the add/remove mutex, outside any delivery of this backend, when the last sink
  // has left: ends the capture stream, so that nothing is captured for nobody; a later
  // startCapture begins a new one. No delivery runs once it returns.
  virtual void stopCapture() = 0;
  // Render thread: hands `frames` samples to every sink, in pieces of at most kMaxDeliveryFrames.
  void deliver(const float* samples, uint32_t frames);
  // Render thread: hands `frames` zero samples (a gap in the capture) to every sink.
  void deliverSilence(uint32_t frames);
  // Any thread: what is delivered from now on does not continue what was delivered before (the
  // capture reads another source). The next delivery's sample time jumps ahead by
  // kTimelineBreakFrames instead of following on, as a device's does after a change of route, so
  // that a sink which looks for gaps in the time stamps sees one.
  void breakTimeline() { timelineBroken_.store(true, std::memory_order_release); }

 private:
  OSStatus startCapturingLocked();
  OSStatus addSinkLocked(AudioInputSink* sink);
  void stopCapturingIfIdleLocked();
  // Returns once a delivery running now (if any) has finished.
  void waitForDeliveryInFlight() const;
  std::array<std::atomic<AudioInputSink*>, kMaxSinks> sinks_{};
  std::atomic<uint32_t> deliverySeq_{0};  // odd while a delivery runs
  double sampleTime_ = 0;                 // render thread only
  std::atomic<bool> timelineBroken_{false};
  mutable std::mutex mutex_;  // serialises addSink/removeSink; never taken by deliver nor while waiting
  bool started_ = false;
  double startedAt_ = 0;  // when the capture stream started, under mutex_
};
