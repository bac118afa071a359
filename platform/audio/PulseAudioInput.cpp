#include "platform/audio/PulseAudioInput.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
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

using pulse::Connection;
using pulse::postOnMain;

}  // namespace

struct PulseAudioInput::Stream {
  pa_stream* stream = nullptr;
  PulseAudioInput* owner = nullptr;
  bool wasReady = false;  // main loop thread (or with its lock held)
  static void onState(pa_stream* s, void* userdata);
};

std::shared_ptr<PulseAudioInput> PulseAudioInput::create(std::string sourceName) {
  return std::shared_ptr<PulseAudioInput>(new PulseAudioInput(std::move(sourceName)));
}

std::string PulseAudioInput::identifier() const {
  return sourceName_.empty() ? std::string("pulse") : "pulse:" + sourceName_;
}

OSStatus PulseAudioInput::startCapture() {
  // Failures are the caller's to report (once, in words): a chart that waits for its server
  // tries again every second.
  if (!pulse::ensureConnected()) return kNoServerStatus;
  Connection& c = Connection::shared();
  pa_sample_spec sampleSpec;
  sampleSpec.format = PA_SAMPLE_FLOAT32NE;
  sampleSpec.rate = uint32_t(kAudioSampleRate);
  sampleSpec.channels = 1;
  pa_buffer_attr attr;
  std::memset(&attr, 0xff, sizeof attr);  // (uint32_t)-1: server defaults
  const uint32_t deliveryFrames = AVAudioSession::sharedInstance().preferredFramesPerBuffer();
  const uint32_t fragmentFrames =
      std::max(deliveryFrames, static_cast<uint32_t>(std::lround(kFragmentSeconds * kAudioSampleRate)));
  attr.fragsize = fragmentFrames * static_cast<uint32_t>(sizeof(float));

  pa_threaded_mainloop_lock(c.mainloop);
  deliveryFrames_ = deliveryFrames;
  if (!c.context || !c.ready) {
    pa_threaded_mainloop_unlock(c.mainloop);
    return kNoServerStatus;
  }
  auto stream = std::make_unique<Stream>();
  stream->owner = this;
  stream->stream = pa_stream_new(c.context, "capture", &sampleSpec, nullptr);
  if (!stream->stream) {
    pa_threaded_mainloop_unlock(c.mainloop);
    return kNoServerStatus;
  }
  pa_stream_set_state_callback(stream->stream, &Stream::onState, stream.get());
  pa_stream_set_read_callback(
      stream->stream,
      [](pa_stream* s, size_t, void* userdata) {
        auto* self = static_cast<PulseAudioInput*>(userdata);
        const void* data = nullptr;
        size_t bytes = 0;
        while (pa_stream_readable_size(s) > 0) {
          if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) break;
          const uint32_t frames = uint32_t(bytes / sizeof(float));
          for (uint32_t done = 0; done < frames;) {
            const uint32_t n = std::min(frames - done, self->deliveryFrames_);
            if (data) self->deliver(static_cast<const float*>(data) + done, n);
            else self->deliverSilence(n);  // a hole in the capture
            done += n;
          }
          pa_stream_drop(s);
        }
      },
      this);
  const char* device = sourceName_.empty() ? nullptr : sourceName_.c_str();
  auto discard = [&](OSStatus status) {
    pa_stream_set_read_callback(stream->stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream->stream, nullptr, nullptr);
    pa_stream_disconnect(stream->stream);
    pa_stream_unref(stream->stream);
    pa_threaded_mainloop_unlock(c.mainloop);
    return status;
  };
  if (pa_stream_connect_record(stream->stream, device, &attr, PA_STREAM_ADJUST_LATENCY) < 0)
    return discard(pa_context_errno(c.context) == PA_ERR_NOENTITY ? kAudioHardwareBadDeviceError : kNoServerStatus);
  bool timedOut = false;
  const bool ready = pulse::waitForStreamReady(c.mainloop, stream->stream, &timedOut);
  if (!ready) {
    // No such source (the server's answer) is worth telling apart: the source may be named wrong.
    const bool noSuchSource = !timedOut && pa_context_errno(c.context) == PA_ERR_NOENTITY;
    return discard(noSuchSource ? kAudioHardwareBadDeviceError : kNoServerStatus);
  }
  stream->wasReady = true;
  stream_ = std::move(stream);
  pa_threaded_mainloop_unlock(c.mainloop);
  return noErr;
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
  pa_stream_set_read_callback(stream_->stream, nullptr, nullptr);
  pa_stream_set_state_callback(stream_->stream, nullptr, nullptr);
  pa_stream_disconnect(stream_->stream);
  pa_stream_unref(stream_->stream);
  pa_threaded_mainloop_unlock(c.mainloop);
}

PulseAudioInput::PulseAudioInput(std::string sourceName) : sourceName_(std::move(sourceName)) {}
