#include "platform/audio/PulseAudioOutput.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>

#include "platform/audio/AudioCallbackGuard.h"
#include "platform/audio/ClockAudioOutput.h"
#include "platform/audio/PulseAudioConnection.h"
#include "platform/foundation/NSLog.h"

namespace {
constexpr OSStatus kNoServerStatus = kAudioUnitErr_NoConnection;
// About 190 ms of queued audio: short enough to follow a seek. The stream does not ask the server
// to lower the sink's latency to that: a low-latency stream makes the sink rewind, and a sink's
// monitor (which another chart may be analysing) then records clicks.
constexpr uint32_t kTargetFrames = 8192;
}  // namespace

struct PulseAudioOutput::Stream : AudioOutputStream, pulse::ConnectionClient {
  pa_threaded_mainloop* mainloop = nullptr;
  AudioOutputSource* source = nullptr;
  uint32_t channels = 0;
  uint32_t framesPerPull = 0;
  // With the main loop's lock held.
  pa_stream* stream = nullptr;
  pulse::ResponseTimer* timer = nullptr;  // while the server makes it ready
  std::unique_ptr<ClockAudioOutput> clock;  // where the source is pulled once the server cannot

  ~Stream() override {
    // Callbacks run with the main loop's lock held: once we hold it, none is in flight, and after
    // the callbacks are cleared none starts. The clock's pulls end before it is gone.
    pa_threaded_mainloop_lock(mainloop);
    pulse::removeClient(this);
    letGo();
    clock.reset();
    pa_threaded_mainloop_unlock(mainloop);
  }

  void letGo() {
    pulse::freeResponseTimer(timer);
    pulse::releaseStream(stream);
    stream = nullptr;
  }

  // The server cannot play it: the source is pulled on a clock from now on.
  void playOnAClock(const std::string& why) {
    NSLog("PulseAudio playback failed: %s; playing on a clock", why.c_str());
    letGo();
    if (!clock) clock = ClockAudioOutput::open(source, channels, framesPerPull);
  }

  // Asks the ready connection's server for the stream.
  void open(pa_context* context) {
    pa_sample_spec sampleSpec;
    sampleSpec.format = PA_SAMPLE_FLOAT32NE;
    sampleSpec.rate = uint32_t(kAudioSampleRate);
    sampleSpec.channels = uint8_t(channels);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);  // (uint32_t)-1: server defaults
    attr.tlength = kTargetFrames * channels * uint32_t(sizeof(float));
    pa_channel_map map;
    pa_channel_map_init_auto(&map, channels, PA_CHANNEL_MAP_DEFAULT);
    stream = pa_stream_new(context, "playback", &sampleSpec, &map);
    if (!stream) {
      playOnAClock(pa_strerror(pa_context_errno(context)));
      return;
    }
    pa_stream_set_state_callback(stream, &Stream::onState, this);
    pa_stream_set_write_callback(stream, &Stream::onWrite, this);
    if (pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_NOFLAGS, nullptr, nullptr) < 0) {
      playOnAClock(pa_strerror(pa_context_errno(context)));
      return;
    }
    // A server that takes the stream and never answers is taken for hung.
    timer = pulse::armResponseTimer();
  }

  void connectionReady() override {
    if (!stream && !clock) open(pulse::sharedContext());
  }
  void connectionLost(OSStatus) override {
    if (!clock) playOnAClock(pulse::connectionFailure());
  }

  static void onState(pa_stream* s, void* userdata) {
    auto* self = static_cast<Stream*>(userdata);
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (state == PA_STREAM_READY) {
      pulse::freeResponseTimer(self->timer);
    } else if (!PA_STREAM_IS_GOOD(state)) {
      self->playOnAClock(pa_strerror(pa_context_errno(pa_stream_get_context(s))));
    }
  }

  // PulseAudio's thread, from C: nothing may throw out of here (see renderGuarded).
  static void onWrite(pa_stream* s, size_t requested, void* userdata) noexcept {
    auto* self = static_cast<Stream*>(userdata);
    const size_t frameBytes = sizeof(float) * self->channels;
    while (requested >= frameBytes) {
      void* data = nullptr;
      size_t bytes = requested;
      if (pa_stream_begin_write(s, &data, &bytes) < 0 || !data) return;
      const uint32_t frames = uint32_t(std::min(bytes, requested) / frameBytes);
      if (frames == 0) {
        pa_stream_cancel_write(s);
        return;
      }
      auto* out = static_cast<float*>(data);
      for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(frames - done, self->framesPerPull);
        self->renderGuarded(out + size_t(done) * self->channels, n);
        done += n;
      }
      if (pa_stream_write(s, data, frames * frameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
      requested -= frames * frameBytes;
    }
  }

  // A source that throws leaves its frames as silence: the stream keeps its timing and the next
  // pull asks again.
  void renderGuarded(float* interleaved, uint32_t frames) noexcept {
    if (!audio::runGuarded("A PulseAudio playback source", [&] { source->renderOutput(interleaved, frames); }))
      std::fill(interleaved, interleaved + size_t(frames) * channels, 0.0f);
  }
};

std::shared_ptr<PulseAudioOutput> PulseAudioOutput::sharedIfReachable() {
  static std::shared_ptr<PulseAudioOutput> shared(new PulseAudioOutput());
  if (!pulse::connectionAlive()) return nullptr;
  return shared;
}

std::unique_ptr<AudioOutputStream> PulseAudioOutput::openStream(AudioOutputSource* source, uint32_t channels,
                                                                uint32_t framesPerPull, OSStatus* status) {
  auto fail = [status](OSStatus s) -> std::unique_ptr<AudioOutputStream> {
    if (status) *status = s;
    return nullptr;
  };
  if (!source || channels == 0 || channels > PA_CHANNELS_MAX || framesPerPull == 0) return fail(kAudio_ParamError);
  pa_threaded_mainloop* mainloop = pulse::sharedMainloop();
  if (!mainloop || pa_threaded_mainloop_in_thread(mainloop)) return fail(kNoServerStatus);

  auto stream = std::make_unique<Stream>();
  stream->mainloop = mainloop;
  stream->source = source;
  stream->channels = channels;
  stream->framesPerPull = framesPerPull;

  pa_threaded_mainloop_lock(mainloop);
  pulse::addClient(stream.get());
  if (pa_context* context = pulse::sharedContext()) {
    stream->open(context);
  } else {
    // Opened once the connection is ready; played on a clock if it cannot be made (a refusal at
    // once is told to the stream before connect returns).
    pulse::connect();
  }
  pa_threaded_mainloop_unlock(mainloop);
  if (status) *status = noErr;
  return stream;
}
