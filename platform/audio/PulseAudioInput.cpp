#include "platform/audio/PulseAudioInput.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>

#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/Clock.h"

namespace {

constexpr OSStatus kNoServerStatus = kAudioUnitErr_NoConnection;

// The server is asked for the captured audio in fragments of one display frame: a chart shows
// what came in at most once a display frame, and every fragment wakes the connection's thread, at
// a cost that hardly depends on the fragment's length (a fifth of the live window's CPU time with
// 5 ms fragments). Each fragment is still handed on in deliveries of the session's preferred
// length, so that render cycles, and what they compute, stay as the session asks.
constexpr double kFragmentSeconds = 1.0 / 60;

// A running capture whose source handed out nothing for this long stopped producing (it was
// suspended, its device stalled): what it hands out next does not continue what came before, and
// its time stamps jump, as a device's do. Far longer than the longest wait between the fragments
// of a source that runs (a server that gathers a large quantum delivers every 0.2 s).
constexpr double kCaptureGapSeconds = 0.5;
// A wait that long may instead be this thread's own (a loaded machine, a paused virtual machine)
// while the server kept every sample: those come all at once then, one fragment for each turn of
// the connection's loop. What came after a wait is left in the stream this long, so that the rest
// of the wait's samples can arrive before it is judged whether they cover it.
constexpr double kBacklogSeconds = 0.05;

using pulse::postOnMain;
using Steady = std::chrono::steady_clock;

double secondsBetween(Steady::time_point from, Steady::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

struct PulseAudioInput::Stream {
  PulseAudioInput* owner = nullptr;
  pa_stream* stream = nullptr;
  std::string source;                    // what it was connected to ("" for the default source)
  pulse::ResponseTimer* timer = nullptr;  // while the server makes it ready
  // The rest: main loop thread (or with its lock held).
  bool ready = false;
  bool movedByServer = false;
  // It was connected to a named source and reads another now: what it captures is not the input.
  bool offSource = false;
  // When it last handed samples on (none yet: the take-over broke the timeline already), and since
  // when what came after a long wait is held back.
  std::optional<Steady::time_point> lastDelivery;
  std::optional<Steady::time_point> heldSince;

  static void onState(pa_stream* s, void* userdata);
  // The server moved the stream to another source (the one it read went away, or the default
  // source changed): it no longer reads what it was connected to.
  static void onMoved(pa_stream*, void* userdata) {
    auto* self = static_cast<Stream*>(userdata);
    PulseAudioInput* owner = self->owner;
    self->movedByServer = true;
    if (owner->stream_.get() != self) return;
    // What it reads from here on is another source's sound, but what the server sends of it
    // first may still be the source before's: the server tells of the move at once, and then
    // sends what it held back of the stream, captured before. The capture of the default source
    // opens a stream of its own on the new default instead, which takes over as a chosen source's
    // does: this one is not heard meanwhile. A named source's stream was moved off it, and the
    // session decides where the capture goes.
    const std::string before = owner->capturedSourceName();
    if (self->source.empty()) owner->pump();
    owner->noteDeliveringStream();
    owner->checkSource(*self);
    // The route's input changed: engines hear of it now, not at their next look.
    if (self->source.empty() && owner->capturedSourceName() != before)
      postOnMain([before] { AVAudioSession::sharedInstance().serverCaptureMoved(before); });
  }
  // Whether it reads `wanted` ("" for the default source) now.
  bool reads(const std::string& wanted) const {
    if (!ready || pa_stream_get_state(stream) != PA_STREAM_READY) return false;
    if (wanted.empty()) return source.empty() && !movedByServer;
    const char* device = pa_stream_get_device_name(stream);
    return device && wanted == device;
  }
};

void PulseAudioInput::Stream::onState(pa_stream* s, void* userdata) {
  auto* self = static_cast<Stream*>(userdata);
  PulseAudioInput* owner = self->owner;
  const pa_stream_state_t state = pa_stream_get_state(s);
  const bool contextReady = pa_context_get_state(pa_stream_get_context(s)) == PA_CONTEXT_READY;
  if (owner->pending_.get() == self) {
    if (state == PA_STREAM_READY) {
      owner->takeOver();
    } else if (!PA_STREAM_IS_GOOD(state)) {
      // No such source (the server's answer) is worth telling apart: the source may be named wrong,
      // or be a chosen one that went.
      const bool noSuchSource = pa_context_errno(pa_stream_get_context(s)) == PA_ERR_NOENTITY;
      const std::string source = self->source;
      release(owner->pending_);
      owner->noteDeliveringStream();
      owner->fail(noSuchSource ? kAudioHardwareBadDeviceError : kNoServerStatus, source);
    }
    return;
  }
  if (owner->stream_.get() != self || PA_STREAM_IS_GOOD(state)) return;
  release(owner->stream_);
  owner->noteDeliveringStream();
  // The server ended a running capture (its source went away) while the connection lives on:
  // like a lost server, engines rebuild and wait for the input to come back. A lost server is
  // told by the connection itself.
  if (contextReady) postOnMain([] { AVAudioSession::sharedInstance().postMediaServicesReset(); });
}

void PulseAudioInput::onRead(pa_stream* s, size_t, void* userdata) {
  auto* self = static_cast<PulseAudioInput*>(userdata);
  Stream* delivering = self->stream_.get();
  // Only the delivering stream is heard; one that left its source, or whose place a stream on
  // another source is about to take, is emptied, not heard.
  const bool heard = delivering && delivering->stream == s && !delivering->offSource && !self->pending_;
  if (heard) {
    const auto now = Steady::now();
    auto& last = delivering->lastDelivery;
    if (last && secondsBetween(*last, now) > kCaptureGapSeconds) {
      // Nothing came for a while. The samples of the wait, if the server kept them, cover it.
      const double waited = secondsBetween(*last, now);
      const double covered = double(pa_stream_readable_size(s)) / sizeof(float) / kAudioSampleRate;
      if (waited - covered > kCaptureGapSeconds) {
        if (!delivering->heldSince) delivering->heldSince = now;
        if (secondsBetween(*delivering->heldSince, now) < kBacklogSeconds) return;  // more may be queued
        // The source paused: what comes now does not continue what came before.
        self->breakTimeline();
      }
    }
    delivering->heldSince.reset();
    last = now;
  }
  const void* data = nullptr;
  size_t bytes = 0;
  while (pa_stream_readable_size(s) > 0) {
    if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) break;
    if (heard) self->deliverCaptured(data ? static_cast<const float*>(data) : nullptr, uint32_t(bytes / sizeof(float)));
    pa_stream_drop(s);
  }
}

void PulseAudioInput::checkSource(Stream& stream) {
  // A stream that does not deliver (yet) is checked when it takes over; one on the default source
  // follows the server's default wherever it is.
  if (stream_.get() != &stream || stream.source.empty() || !stream.movedByServer) return;
  const char* device = pa_stream_get_device_name(stream.stream);
  const bool off = !device || stream.source != device;
  if (off == stream.offSource) return;
  stream.offSource = off;
  // The session decides, on the main thread, what the capture reads now.
  if (off) postOnMain([] { AVAudioSession::sharedInstance().serverCaptureLeftItsSource(); });
}

std::shared_ptr<PulseAudioInput> PulseAudioInput::create(std::string sourceName) {
  return std::shared_ptr<PulseAudioInput>(new PulseAudioInput(std::move(sourceName)));
}

PulseAudioInput::PulseAudioInput(std::string sourceName) : sourceName_(sourceName), target_(std::move(sourceName)) {}

std::string PulseAudioInput::identifier() const {
  std::lock_guard<std::mutex> lock(nameMutex_);
  return sourceName_.empty() ? std::string("pulse") : "pulse:" + sourceName_;
}

std::string PulseAudioInput::capturedSourceName() const {
  std::lock_guard<std::mutex> lock(nameMutex_);
  return capturedName_;
}

void PulseAudioInput::noteDeliveringStream() {
  std::string name;
  if (stream_ && stream_->ready && pa_stream_get_state(stream_->stream) == PA_STREAM_READY) {
    if (const char* device = pa_stream_get_device_name(stream_->stream)) name = device;
  }
  // What onRead hands on: the ready stream's captures, unless another is being made to take over.
  if (!stream_ || !stream_->ready || pending_) {
    deliverableSince_.store(std::numeric_limits<double>::quiet_NaN());
  } else if (std::isnan(deliverableSince_.load())) {
    deliverableSince_.store(Clock::monotonic());
  }
  // Another source's first samples are on their way: a stream is being made on it.
  movingToAnotherSource_.store(pending_ != nullptr);
  std::lock_guard<std::mutex> lock(nameMutex_);
  capturedName_ = std::move(name);
}

bool PulseAudioInput::awaitsNewSource() const {
  return movingToAnotherSource_.load() || AudioInputBackend::awaitsNewSource();
}

std::optional<double> PulseAudioInput::deliverableSince() const {
  const double since = deliverableSince_.load();
  if (std::isnan(since)) return std::nullopt;
  return since;
}

void PulseAudioInput::deliverCaptured(const float* samples, uint32_t frames) {
  for (uint32_t done = 0; done < frames;) {
    const uint32_t n = std::min(frames - done, deliveryFrames_);
    if (samples) deliver(samples + done, n);
    else deliverSilence(n);  // a hole in the capture
    done += n;
  }
}

void PulseAudioInput::release(std::unique_ptr<Stream>& stream) {
  if (!stream) return;
  pulse::freeResponseTimer(stream->timer);
  pulse::releaseStream(stream->stream);
  stream.reset();
}

void PulseAudioInput::open(const std::string& source) {
  pa_context* context = pulse::sharedContext();
  ++attempt_;
  pa_sample_spec sampleSpec;
  sampleSpec.format = PA_SAMPLE_FLOAT32NE;
  sampleSpec.rate = uint32_t(kAudioSampleRate);
  sampleSpec.channels = 1;
  pa_buffer_attr attr;
  std::memset(&attr, 0xff, sizeof attr);  // (uint32_t)-1: server defaults
  const uint32_t fragmentFrames =
      std::max(deliveryFrames_, static_cast<uint32_t>(std::lround(kFragmentSeconds * kAudioSampleRate)));
  attr.fragsize = fragmentFrames * static_cast<uint32_t>(sizeof(float));

  auto stream = std::make_unique<Stream>();
  stream->owner = this;
  stream->source = source;
  stream->stream = context ? pa_stream_new(context, "capture", &sampleSpec, nullptr) : nullptr;
  if (!stream->stream) {
    fail(kNoServerStatus, source);
    return;
  }
  pa_stream_set_state_callback(stream->stream, &Stream::onState, stream.get());
  pa_stream_set_moved_callback(stream->stream, &Stream::onMoved, stream.get());
  // No read callback yet: what it captures waits in the stream until it takes over.
  const char* device = source.empty() ? nullptr : source.c_str();
  if (pa_stream_connect_record(stream->stream, device, &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
    const OSStatus status =
        pa_context_errno(context) == PA_ERR_NOENTITY ? kAudioHardwareBadDeviceError : kNoServerStatus;
    release(stream);
    fail(status, source);
    return;
  }
  // A server that takes the request and never answers is taken for hung.
  stream->timer = pulse::armResponseTimer();
  pending_ = std::move(stream);
  noteDeliveringStream();
}

void PulseAudioInput::takeOver() {
  std::unique_ptr<Stream> fresh = std::move(pending_);
  pulse::freeResponseTimer(fresh->timer);
  fresh->ready = true;
  // The main loop is locked: no read callback runs between the two, so the old stream's last
  // delivery is over before the new one's first, and the sinks see one input throughout.
  release(stream_);
  // The new stream's sound does not continue the old one's.
  breakTimeline();
  pa_stream_set_read_callback(fresh->stream, &PulseAudioInput::onRead, this);
  stream_ = std::move(fresh);
  noteDeliveringStream();
  checkSource(*stream_);  // the server may have moved it while it was made ready
}

void PulseAudioInput::pump() {
  if (!wanted_) return;
  if (!pulse::sharedContext()) {
    pulse::connect();  // connectionReady or connectionLost follows
    return;
  }
  if (stream_ && stream_->reads(target_)) {
    release(pending_);
    noteDeliveringStream();
    return;
  }
  if (pending_ && pending_->source == target_) return;
  release(pending_);
  noteDeliveringStream();
  // A named source the server's last list lacks is not there: no stream is asked for.
  if (!target_.empty() && pulse::sourceMissing(target_)) {
    ++attempt_;
    fail(kAudioHardwareBadDeviceError, target_);
    return;
  }
  open(target_);
}

void PulseAudioInput::connectionReady() { pump(); }

void PulseAudioInput::connectionLost(OSStatus status) {
  // Every stream of the connection is gone with it.
  release(pending_);
  release(stream_);
  noteDeliveringStream();
  if (wanted_) fail(status, target_);
}

void PulseAudioInput::fail(OSStatus status, const std::string& source) {
  const uint64_t attempt = attempt_;
  std::weak_ptr<AudioInputBackend> weak = weak_from_this();
  postOnMain([weak, attempt, status, source] {
    if (auto self = std::static_pointer_cast<PulseAudioInput>(weak.lock())) self->reportFailure(attempt, status, source);
  });
}

bool PulseAudioInput::isCurrentAttempt(uint64_t attempt) const {
  pa_threaded_mainloop* mainloop = pulse::sharedMainloop();
  pa_threaded_mainloop_lock(mainloop);
  const bool current = wanted_ && attempt_ == attempt;
  pa_threaded_mainloop_unlock(mainloop);
  return current;
}

void PulseAudioInput::reportFailure(uint64_t attempt, OSStatus status, const std::string& source) {
  // A start, a stop or another stream asked for since makes this one's failure old news.
  if (!isCurrentAttempt(attempt)) return;
  // A chosen source that is gone: the session has the capture read the input in effect instead.
  if (AVAudioSession::sharedInstance().serverCaptureFailed(*this, status, source)) return;
  failCapture(status, [this, attempt] { return isCurrentAttempt(attempt); });
}

OSStatus PulseAudioInput::startCapture() {
  // The session is asked before any lock of this input is taken.
  const uint32_t deliveryFrames = AVAudioSession::sharedInstance().preferredFramesPerBuffer();
  pa_threaded_mainloop* mainloop = pulse::sharedMainloop();
  if (!mainloop) return kNoServerStatus;
  // The connection's own thread holds its lock already (and runs the deliveries): never from it.
  if (pa_threaded_mainloop_in_thread(mainloop)) return kAudioUnitErr_CannotDoInCurrentContext;
  pa_threaded_mainloop_lock(mainloop);
  if (!registered_) {
    pulse::addClient(this);
    registered_ = true;
  }
  wanted_ = true;
  ++attempt_;
  deliveryFrames_ = deliveryFrames;
  // What is known now is said now, as the capture does not run: a server that is not there
  // refuses the connection at once, and a named source may be missing from the server's list in
  // memory. What the server has not answered yet is told later (reportFailure).
  OSStatus status = noErr;
  if (!target_.empty() && pulse::sharedContext() && pulse::sourceMissing(target_)) {
    status = kAudioHardwareBadDeviceError;
  } else {
    pump();
    if (!pulse::sharedContext() && !pulse::connecting()) status = kNoServerStatus;
  }
  if (status != noErr) {
    wanted_ = false;
    ++attempt_;
  }
  pa_threaded_mainloop_unlock(mainloop);
  return status;
}

void PulseAudioInput::stopCapture() {
  pa_threaded_mainloop* mainloop = pulse::sharedMainloop();
  if (!mainloop || pa_threaded_mainloop_in_thread(mainloop)) return;
  pa_threaded_mainloop_lock(mainloop);
  wanted_ = false;
  ++attempt_;
  release(pending_);
  release(stream_);
  noteDeliveringStream();
  pa_threaded_mainloop_unlock(mainloop);
}

OSStatus PulseAudioInput::moveToSource(const std::string& sourceName) {
  {
    std::lock_guard<std::mutex> lock(nameMutex_);
    sourceName_ = sourceName;
  }
  pa_threaded_mainloop* mainloop = pulse::sharedMainloop();
  if (!mainloop) return kNoServerStatus;
  if (pa_threaded_mainloop_in_thread(mainloop)) return kAudioUnitErr_CannotDoInCurrentContext;
  pa_threaded_mainloop_lock(mainloop);
  target_ = sourceName;
  pump();  // not capturing: the capture starts on this source
  pa_threaded_mainloop_unlock(mainloop);
  return noErr;
}

PulseAudioInput::~PulseAudioInput() {
  // Streams are made only once the capture started, which makes it a client of the connection.
  if (!registered_) return;
  pa_threaded_mainloop* mainloop = pulse::sharedMainloop();
  if (!mainloop) return;
  const bool onLoop = pa_threaded_mainloop_in_thread(mainloop);
  if (!onLoop) pa_threaded_mainloop_lock(mainloop);
  pulse::removeClient(this);
  release(pending_);
  release(stream_);
  if (!onLoop) pa_threaded_mainloop_unlock(mainloop);
}
