#include "platform/audio/PulseAudioInput.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/PulseAudioConnection.h"

namespace {

constexpr OSStatus kNoServerStatus = kAudioUnitErr_NoConnection;

// The server is asked for the captured audio in fragments of one display frame: a chart shows
// what came in at most once a display frame, and every fragment wakes the connection's thread, at
// a cost that hardly depends on the fragment's length (a fifth of the live window's CPU time with
// 5 ms fragments). Each fragment is still handed on in deliveries of the session's preferred
// length, so that render cycles, and what they compute, stay as the session asks.
constexpr double kFragmentSeconds = 1.0 / 60;

// A running capture that hands out nothing for this long has a source that stopped producing (it
// was suspended, its device stalled): what it hands out next does not continue what came before,
// and its time stamps jump, as a device's do. Far longer than the longest wait between the
// fragments of a source that runs (a server that gathers a large quantum delivers every 0.2 s).
constexpr auto kCaptureGap = std::chrono::milliseconds(500);

using pulse::Connection;
using pulse::postOnMain;

}  // namespace

struct PulseAudioInput::Stream {
  PulseAudioInput* owner = nullptr;
  pa_stream* stream = nullptr;
  std::string source;          // what it was connected to ("" for the default source)
  // The rest: main loop thread (or with its lock held).
  bool wasReady = false;
  bool movedByServer = false;
  // It was connected to a named source and reads another now: what it captures is not the input.
  bool offSource = false;
  // When it last handed samples on (none yet: the take-over broke the timeline already).
  std::optional<std::chrono::steady_clock::time_point> lastDelivery;
  static void onState(pa_stream* s, void* userdata);
  // The server moved the stream to another source (the one it read went away, or the default
  // source changed): it no longer reads what it was connected to.
  static void onMoved(pa_stream*, void* userdata) {
    auto* self = static_cast<Stream*>(userdata);
    self->movedByServer = true;
    // What it reads from here on is another source's sound.
    if (self->owner->stream_.get() == self) self->owner->breakTimeline();
    self->owner->checkSource(*self);
  }
  // Whether it reads `wanted` ("" for the default source) now.
  bool reads(const std::string& wanted) const {
    if (pa_stream_get_state(stream) != PA_STREAM_READY) return false;
    if (wanted.empty()) return source.empty() && !movedByServer;
    const char* device = pa_stream_get_device_name(stream);
    return device && wanted == device;
  }
};

void PulseAudioInput::onRead(pa_stream* s, size_t, void* userdata) {
  auto* self = static_cast<PulseAudioInput*>(userdata);
  // Only the delivering stream reads; one that left its source is emptied, not heard.
  const bool heard = self->stream_ && !self->stream_->offSource;
  if (heard) {
    const auto now = std::chrono::steady_clock::now();
    auto& last = self->stream_->lastDelivery;
    if (last && now - *last > kCaptureGap) self->breakTimeline();
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

std::string PulseAudioInput::identifier() const {
  std::lock_guard<std::mutex> lock(nameMutex_);
  return sourceName_.empty() ? std::string("pulse") : "pulse:" + sourceName_;
}

void PulseAudioInput::deliverCaptured(const float* samples, uint32_t frames) {
  for (uint32_t done = 0; done < frames;) {
    const uint32_t n = std::min(frames - done, deliveryFrames_);
    if (samples) deliver(samples + done, n);
    else deliverSilence(n);  // a hole in the capture
    done += n;
  }
}

std::unique_ptr<PulseAudioInput::Stream> PulseAudioInput::openStream(const std::string& source, OSStatus* status) {
  Connection& c = Connection::shared();
  *status = noErr;
  if (!c.context || !c.ready) {
    *status = kNoServerStatus;
    return nullptr;
  }
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
  stream->stream = pa_stream_new(c.context, "capture", &sampleSpec, nullptr);
  if (!stream->stream) {
    *status = kNoServerStatus;
    return nullptr;
  }
  pa_stream_set_state_callback(stream->stream, &Stream::onState, stream.get());
  pa_stream_set_moved_callback(stream->stream, &Stream::onMoved, stream.get());
  // No read callback yet: what it captures waits in the stream until it takes over.
  const char* device = source.empty() ? nullptr : source.c_str();
  if (pa_stream_connect_record(stream->stream, device, &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
    *status = pa_context_errno(c.context) == PA_ERR_NOENTITY ? kAudioHardwareBadDeviceError : kNoServerStatus;
    closeStream(*stream);
    return nullptr;
  }
  bool timedOut = false;
  if (!pulse::waitForStreamReady(c.mainloop, stream->stream, &timedOut)) {
    // No such source (the server's answer) is worth telling apart: the source may be named wrong.
    const bool noSuchSource = !timedOut && pa_context_errno(c.context) == PA_ERR_NOENTITY;
    *status = noSuchSource ? kAudioHardwareBadDeviceError : kNoServerStatus;
    closeStream(*stream);
    return nullptr;
  }
  stream->wasReady = true;
  return stream;
}

void PulseAudioInput::closeStream(Stream& stream) {
  if (!stream.stream) return;
  pa_stream_set_read_callback(stream.stream, nullptr, nullptr);
  pa_stream_set_state_callback(stream.stream, nullptr, nullptr);
  pa_stream_set_moved_callback(stream.stream, nullptr, nullptr);
  pa_stream_disconnect(stream.stream);
  pa_stream_unref(stream.stream);
  stream.stream = nullptr;
}

void PulseAudioInput::takeOver(std::unique_ptr<Stream> stream) {
  // The main loop is locked: no read callback runs between the two, so the old stream's last
  // delivery is over before the new one's first, and the sinks see one input throughout.
  if (stream_) closeStream(*stream_);
  // The new stream's sound does not continue the old one's.
  breakTimeline();
  pa_stream_set_read_callback(stream->stream, &PulseAudioInput::onRead, this);
  stream_ = std::move(stream);
  checkSource(*stream_);  // the server may have moved it while it was made ready
}

OSStatus PulseAudioInput::startCapture() {
  // Failures are the caller's to report (once, in words): a chart that waits for its server
  // tries again every second. The session is asked before any lock of this input is taken.
  const uint32_t deliveryFrames = AVAudioSession::sharedInstance().preferredFramesPerBuffer();
  std::lock_guard<std::mutex> moving(moveMutex_);
  if (!pulse::ensureConnected()) return kNoServerStatus;
  Connection& c = Connection::shared();
  pa_threaded_mainloop_lock(c.mainloop);
  deliveryFrames_ = deliveryFrames;
  OSStatus status = noErr;
  std::string source;
  {
    std::lock_guard<std::mutex> lock(nameMutex_);
    source = sourceName_;
  }
  if (auto stream = openStream(source, &status)) takeOver(std::move(stream));
  pa_threaded_mainloop_unlock(c.mainloop);
  return status;
}

std::string PulseAudioInput::capturedSourceName() const {
  pa_threaded_mainloop* mainloop = pulse::sharedMainloop();
  if (!mainloop || pa_threaded_mainloop_in_thread(mainloop)) return {};
  // The stream changes only with the main loop's lock held (and moveMutex_): the lock suffices.
  pa_threaded_mainloop_lock(mainloop);
  std::string name;
  if (stream_ && stream_->stream && pa_stream_get_state(stream_->stream) == PA_STREAM_READY) {
    if (const char* device = pa_stream_get_device_name(stream_->stream)) name = device;
  }
  pa_threaded_mainloop_unlock(mainloop);
  return name;
}

void PulseAudioInput::stopCapture() {
  std::lock_guard<std::mutex> moving(moveMutex_);
  if (!stream_) return;
  pa_threaded_mainloop* mainloop = pulse::sharedMainloop();  // there since the stream was made
  // The connection's own thread holds its lock already (and runs the deliveries): never from it.
  if (pa_threaded_mainloop_in_thread(mainloop)) return;
  pa_threaded_mainloop_lock(mainloop);
  closeStream(*stream_);
  stream_.reset();
  pa_threaded_mainloop_unlock(mainloop);
}

OSStatus PulseAudioInput::moveToSource(const std::string& sourceName) {
  std::lock_guard<std::mutex> moving(moveMutex_);
  auto name = [&] {
    std::lock_guard<std::mutex> lock(nameMutex_);
    sourceName_ = sourceName;
  };
  // Not capturing yet: the capture starts on this source.
  if (!stream_) {
    name();
    return noErr;
  }
  // A stream of a connection that was lost is replaced by one of the new connection.
  if (!pulse::ensureConnected()) return kNoServerStatus;
  Connection& c = Connection::shared();
  pa_threaded_mainloop_lock(c.mainloop);
  OSStatus status = noErr;
  if (!stream_->reads(sourceName)) {
    if (auto stream = openStream(sourceName, &status)) takeOver(std::move(stream));
  }
  if (status == noErr) name();
  pa_threaded_mainloop_unlock(c.mainloop);
  return status;
}

void PulseAudioInput::Stream::onState(pa_stream* s, void* userdata) {
  auto* self = static_cast<Stream*>(userdata);
  pa_threaded_mainloop_signal(Connection::shared().mainloop, 0);
  const pa_stream_state_t state = pa_stream_get_state(s);
  if (!self->wasReady || PA_STREAM_IS_GOOD(state)) return;
  self->wasReady = false;
  // The server ended a running capture (its source went away) while the connection lives on:
  // like a lost server, engines rebuild and wait for the input to come back. A lost server is
  // posted by the connection itself.
  if (pa_context_get_state(pa_stream_get_context(s)) == PA_CONTEXT_READY)
    postOnMain([] { AVAudioSession::sharedInstance().postMediaServicesReset(); });
}

PulseAudioInput::~PulseAudioInput() {
  if (!stream_) return;
  Connection& c = Connection::shared();
  pa_threaded_mainloop_lock(c.mainloop);
  closeStream(*stream_);
  pa_threaded_mainloop_unlock(c.mainloop);
}

PulseAudioInput::PulseAudioInput(std::string sourceName) : sourceName_(std::move(sourceName)) {}
