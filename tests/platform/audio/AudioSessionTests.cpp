// The audio session: settings, inputs and routes, the recorder's meter, and the PulseAudio inputs
// of the private test server (skipped when no server is published in PULSE_SERVER).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/audio/AVAudioRecorder.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/audio/PulseAudioInput.h"
#include "platform/audio/TestAudioInput.h"

namespace {

TEST(AudioSession, RefusesImpossibleSettingsWithAnError) {
  auto& s = AVAudioSession::sharedInstance();
  NSErrorRef error;
  EXPECT_TRUE(s.setPreferredIOBufferDuration(0.005, &error));
  EXPECT_EQ(s.preferredFramesPerBuffer(), 221u);
  EXPECT_FALSE(s.setPreferredIOBufferDuration(-1, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), AVAudioSessionErrorDomain);
  EXPECT_DOUBLE_EQ(s.preferredIOBufferDuration(), 0.005);
  EXPECT_FALSE(s.setPreferredSampleRate(NAN, &error));
  EXPECT_EQ(s.sampleRate(), 44100.0);
}

TEST(AudioSession, UnknownInputSpecGivesNoBackendAndAStatus) {
  auto& s = AVAudioSession::sharedInstance();
  s.setInputSpec("bogus:thing");
  OSStatus status = noErr;
  EXPECT_EQ(s.inputBackend(&status), nullptr);
  EXPECT_EQ(status, kAudio_ParamError);
  s.setInputSpec("file:/nonexistent.wav");
  EXPECT_EQ(s.inputBackend(&status), nullptr);
  EXPECT_EQ(status, kAudio_FileNotFoundError);
  s.setInputSpec("test");
  auto a = s.inputBackend(&status);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, s.inputBackend()) << "one backend per input, shared by every unit";
}

TEST(AudioSession, PreferredDataSourceMustBelongToThePort) {
  auto& s = AVAudioSession::sharedInstance();
  s.setInputBackend(TestAudioInput::create("test-ports"));
  auto inputs = s.availableInputs();
  ASSERT_EQ(inputs.size(), 1u);
  auto port = inputs[0];
  ASSERT_EQ(port->dataSources().size(), 2u);
  NSErrorRef error;
  auto foreign = std::make_shared<AVAudioSessionDataSourceDescription>(9, "Elsewhere", AVAudioSessionOrientationTop);
  EXPECT_FALSE(port->setPreferredDataSource(foreign, &error));
  EXPECT_TRUE(error);
  EXPECT_TRUE(port->setPreferredDataSource(port->dataSources()[1], &error));
  EXPECT_EQ(s.availableInputs()[0]->selectedDataSource(), port->dataSources()[1]) << "the port object is kept";
  auto stranger = std::make_shared<AVAudioSessionPortDescription>("pulse:none", "None", AVAudioSessionPortLineIn);
  EXPECT_FALSE(s.setPreferredInput(stranger, &error));
  EXPECT_TRUE(s.setPreferredInput(port, &error));
  EXPECT_EQ(s.currentRoute().inputs.size(), 1u);
  s.setPreferredInput(nullptr, &error);
  s.setInputBackend(nullptr);
}

TEST(AudioRecorder, MetersTheAveragePowerAndWritesTheFile) {
  auto input = TestAudioInput::create("test-recorder");
  AVAudioSession::sharedInstance().setInputBackend(input);
  std::string path = (std::filesystem::temp_directory_path() / ("rec" + std::to_string(::getpid()) + ".wav")).string();
  NSErrorRef error;
  EXPECT_EQ(AVAudioRecorder::create(path, Value{{AVNumberOfChannelsKey, 5}}, &error), nullptr);
  EXPECT_TRUE(error);
  auto recorder = AVAudioRecorder::create(path, Value{{AVNumberOfChannelsKey, 2}, {AVSampleRateKey, 44100.0}}, &error);
  ASSERT_NE(recorder, nullptr);
  recorder->setMeteringEnabled(true);
  ASSERT_TRUE(recorder->record());
  std::vector<float> sine(4410);
  for (size_t i = 0; i < sine.size(); ++i) sine[i] = 0.1f * std::sin(2 * M_PI * 1000 * double(i) / 44100);
  input->pushSamples(sine);
  recorder->updateMeters();
  // RMS of a sine of amplitude 0.1 is 0.0707: -23.0 dB.
  EXPECT_NEAR(recorder->averagePowerForChannel(0), -23.0f, 0.2f);
  EXPECT_NEAR(recorder->peakPowerForChannel(0), -20.0f, 0.2f);
  EXPECT_EQ(recorder->averagePowerForChannel(2), -160.0f);
  recorder->stop();
  EXPECT_FALSE(recorder->isRecording());
  EXPECT_EQ(input->sinkCount(), 0);
  EXPECT_GT(std::filesystem::file_size(path), 4410u * 2 * 4);
  std::filesystem::remove(path);
  AVAudioSession::sharedInstance().setInputBackend(nullptr);
}

// The sink's monitor is what the sink plays, not something a microphone hears: it is no input
// (the capture tests still record it by naming it).
TEST(PulseAudioSession, TheTestServersMonitorIsNoInput) {
  if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "no private PulseAudio server (PULSE_SERVER unset)";
  std::string error;
  ASSERT_TRUE(pulse::ensureConnected(&error)) << error;
  auto& s = AVAudioSession::sharedInstance();
  s.setInputSpec("pulse");
  bool monitorListed = false;
  for (const auto& source : pulse::listSources()) monitorListed |= source.name == "sa_test_sink.monitor";
  ASSERT_TRUE(monitorListed) << "the server has the monitor";
  for (auto& port : s.availableInputs()) EXPECT_NE(port->UID(), "pulse:sa_test_sink.monitor");
}

}  // namespace
