// Through the shared audio server of the test run (scripts/test-services): its sink's monitor is no
// input of the session, and what an output-only unit plays is heard on the sink. The program holds
// the server alone while a test runs (sa_test AUDIO_SERVER); the tests skip without a server.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/AudioUnit.h"
#include "platform/audio/PulseAudioConnection.h"
#include "platform/audio/PulseAudioInput.h"
#include "platform/audio/PulseAudioOutput.h"
#include "tests/support/AudioServerConnection.h"
#include "tests/support/TonePlayer.h"
#include "tests/support/WaitFor.h"

namespace {

// The sink's monitor is what the sink plays, not something a microphone hears: it is no input
// (the capture tests still record it by naming it).
TEST(PulseAudioSession, TheTestServersMonitorIsNoInput) {
  if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "no private PulseAudio server (PULSE_SERVER unset)";
  std::string error;
  ASSERT_TRUE(testsupport::connectToAudioServer(&error)) << error;
  auto& s = AVAudioSession::sharedInstance();
  s.setInputSpec("pulse");
  bool monitorListed = false;
  for (const auto& source : pulse::listSources()) monitorListed |= source.name == "sa_test_sink.monitor";
  ASSERT_TRUE(monitorListed) << "the server has the monitor";
  for (auto& port : s.availableInputs()) EXPECT_NE(port->UID(), "pulse:sa_test_sink.monitor");
}

struct Tone {
  AudioUnit unit = nullptr;
  double phase = 0;
};

OSStatus toneCallback(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, uint32_t, uint32_t frames,
                      AudioBufferList* io) {
  auto* t = static_cast<Tone*>(refCon);
  for (uint32_t i = 0; i < frames; ++i) {
    const float v = float(0.3 * std::sin(t->phase));
    t->phase += 2 * M_PI * 1250.0 / 44100.0;
    for (uint32_t b = 0; b < io->mNumberBuffers; ++b) static_cast<float*>(io->mBuffers[b].mData)[i] = v;
  }
  return noErr;
}

TEST(PulsePlayback, AnOutputOnlyUnitIsHeardOnTheServersSink) {
  if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "no private PulseAudio server (PULSE_SERVER unset)";
  const char* sinkEnv = std::getenv("SA_TEST_PULSE_SINK");
  const std::string sink = sinkEnv ? sinkEnv : "sa_test_sink";
  std::string error;
  ASSERT_TRUE(testsupport::connectToAudioServer(&error)) << error;
  ASSERT_NE(PulseAudioOutput::sharedIfReachable(), nullptr);
  // Record the sink's monitor through a capturing unit that only listens.
  auto& session = AVAudioSession::sharedInstance();
  session.setInputBackend(nullptr);
  session.setOutputBackend(nullptr);
  session.setInputSpec("pulse:" + sink + ".monitor");
  struct Recorder {
    AudioUnit unit = nullptr;
    std::vector<float> samples;
    std::atomic<size_t> count{0};
  } recorder;
  recorder.samples.resize(44100 * 10);
  AudioComponentDescription d{kAudioUnitType_Output, kAudioUnitSubType_RemoteIO, kAudioUnitManufacturer_System, 0, 0};
  ASSERT_EQ(AudioComponentInstanceNew(AudioComponentFindNext(nullptr, &d), &recorder.unit), noErr);
  uint32_t one = 1, zero = 0;
  AudioUnitSetProperty(recorder.unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Input, 1, &one, 4);
  AudioUnitSetProperty(recorder.unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Output, 0, &zero, 4);
  auto mono = MakeFloatNonInterleavedFormat(1);
  AudioUnitSetProperty(recorder.unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1, &mono, sizeof mono);
  AudioUnitSetProperty(recorder.unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &mono, sizeof mono);
  AURenderCallbackStruct rcb{
      [](void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts, uint32_t, uint32_t frames,
         AudioBufferList* io) -> OSStatus {
        auto* r = static_cast<Recorder*>(refCon);
        OSStatus status = AudioUnitRender(r->unit, flags, ts, 1, frames, io);
        if (status != noErr) return status;
        size_t at = r->count.load();
        const size_t n = std::min<size_t>(frames, r->samples.size() - at);
        std::memcpy(r->samples.data() + at, io->mBuffers[0].mData, n * sizeof(float));
        r->count.store(at + n);
        return noErr;
      },
      &recorder};
  AudioUnitSetProperty(recorder.unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &rcb, sizeof rcb);
  ASSERT_EQ(AudioUnitInitialize(recorder.unit), noErr);
  ASSERT_EQ(AudioOutputUnitStart(recorder.unit), noErr);

  Tone tone;
  AudioComponentInstanceNew(AudioComponentFindNext(nullptr, &d), &tone.unit);
  auto stereo = MakeFloatNonInterleavedFormat(2);
  AudioUnitSetProperty(tone.unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &stereo, sizeof stereo);
  AURenderCallbackStruct tcb{toneCallback, &tone};
  AudioUnitSetProperty(tone.unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &tcb, sizeof tcb);
  ASSERT_EQ(AudioUnitInitialize(tone.unit), noErr);
  ASSERT_EQ(AudioOutputUnitStart(tone.unit), noErr);

  // Real playback takes real time: look at the last 0.2 s of the recording until it holds the tone.
  double found = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const size_t have = recorder.count.load();
    if (have < 8820) continue;
    std::vector<float> tail(recorder.samples.begin() + long(have - 8820), recorder.samples.begin() + long(have));
    double energy = 0;
    for (float v : tail) energy += double(v) * v;
    if (energy / double(tail.size()) < 1e-4) continue;  // not heard yet
    found = testsupport::dominantFrequency(tail);
    if (std::fabs(found - 1250.0) <= 10) break;
  }
  EXPECT_NEAR(found, 1250.0, 10.0);
  AudioComponentInstanceDispose(tone.unit);
  AudioComponentInstanceDispose(recorder.unit);
}

// PulseAudio calls the stream callbacks from C: what the code behind them throws must stop there.
// A source that throws is played as silence and asked again; the process goes on.
TEST(PulsePlayback, ASourceThatThrowsIsPlayedAsSilenceAndAskedAgain) {
  if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "no private PulseAudio server (PULSE_SERVER unset)";
  std::string error;
  ASSERT_TRUE(testsupport::connectToAudioServer(&error)) << error;
  auto output = PulseAudioOutput::sharedIfReachable();
  ASSERT_NE(output, nullptr);
  struct Throwing : AudioOutputSource {
    std::atomic<int> pulls{0};
    void renderOutput(float* interleaved, uint32_t frames) override {
      ++pulls;
      for (uint32_t i = 0; i < frames; ++i) interleaved[i] = 0.5f;  // half written when it throws
      throw std::runtime_error("a render callback failed");
    }
  } source;
  OSStatus status = noErr;
  auto stream = output->openStream(&source, 1, 512, &status);
  ASSERT_TRUE(stream) << status;
  EXPECT_TRUE(testsupport::waitFor([&] { return source.pulls.load() >= 5; }, 10)) << source.pulls.load();
  stream.reset();  // returns: no pull is stuck
}

// A capture sink that throws misses that delivery; the other sinks get theirs, and removing the
// sinks does not wait for a delivery that never ended.
TEST(PulseCapture, ASinkThatThrowsMissesItsDeliveryAndTheOthersGoOn) {
  if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "no private PulseAudio server (PULSE_SERVER unset)";
  const char* sinkEnv = std::getenv("SA_TEST_PULSE_SINK");
  const std::string sink = sinkEnv ? sinkEnv : "sa_test_sink";
  struct Counting : AudioInputSink {
    std::atomic<int> deliveries{0};
    bool throws = false;
    void audioInputDidCapture(const float*, uint32_t, const AudioTimeStamp&) override {
      ++deliveries;
      if (throws) throw std::runtime_error("an analysis step failed");
    }
  } thrower, listener;
  thrower.throws = true;
  auto input = PulseAudioInput::create(sink + ".monitor");
  ASSERT_EQ(input->addSink(&thrower), noErr);
  ASSERT_EQ(input->addSink(&listener), noErr);
  EXPECT_TRUE(testsupport::waitFor([&] { return thrower.deliveries.load() >= 5 && listener.deliveries.load() >= 5; }, 10))
      << thrower.deliveries.load() << " " << listener.deliveries.load();
  input->removeSink(&thrower);
  input->removeSink(&listener);
  EXPECT_EQ(input->sinkCount(), 0);
}

// The server sends the capture in fragments longer than a delivery: every delivery is still at most
// the session's preferred length.
TEST(PulseCapture, DeliveriesKeepTheSessionsPreferredLength) {
  if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "no private PulseAudio server (PULSE_SERVER unset)";
  const char* sinkEnv = std::getenv("SA_TEST_PULSE_SINK");
  const std::string sink = sinkEnv ? sinkEnv : "sa_test_sink";
  NSErrorRef error;
  ASSERT_TRUE(AVAudioSession::sharedInstance().setPreferredIOBufferDuration(0.005, &error));
  const uint32_t preferred = AVAudioSession::sharedInstance().preferredFramesPerBuffer();
  struct Recording : AudioInputSink {
    std::atomic<int> deliveries{0};
    std::atomic<uint32_t> longest{0};
    void audioInputDidCapture(const float*, uint32_t frames, const AudioTimeStamp&) override {
      if (frames > longest.load()) longest.store(frames);
      ++deliveries;
    }
  } recording;
  auto input = PulseAudioInput::create(sink + ".monitor");
  ASSERT_EQ(input->addSink(&recording), noErr);
  EXPECT_TRUE(testsupport::waitFor([&] { return recording.deliveries.load() >= 100; }, 10)) << recording.deliveries.load();
  input->removeSink(&recording);
  EXPECT_GT(recording.longest.load(), 0u);
  EXPECT_LE(recording.longest.load(), preferred);
}

}  // namespace
