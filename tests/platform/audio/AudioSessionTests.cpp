// The audio session: settings, inputs and routes, and the recorder's meter. (The inputs of the
// audio server are checked in AudioServerTests.cpp.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/AVAudioRecorder.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/audio/PulseAudioConnection.h"
#include "platform/audio/PulseAudioOutput.h"
#include "platform/audio/TestAudioInput.h"
#include "tests/support/AudioServerConnection.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PrivateAudioServer.h"

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

// A sine file for the input checks.
std::string writeTone(const std::string& name) {
  const std::string path = (std::filesystem::temp_directory_path() / (name + std::to_string(::getpid()) + ".wav")).string();
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  std::vector<short> samples(4410, 1000);
  sf_writef_short(f, samples.data(), sf_count_t(samples.size()));
  sf_close(f);
  return path;
}

TEST(AudioSession, AnInputThatCannotBeUsedIsRefusedInWords) {
  auto& s = AVAudioSession::sharedInstance();
  struct Case {
    std::string input;
    AVAudioSession::InputCheck::Result result;
    std::string problem;
  };
  const std::string dir = std::filesystem::temp_directory_path().string();
  const std::string notAudio = dir + "/not-audio-" + std::to_string(::getpid()) + ".wav";
  std::ofstream(notAudio) << "RIFF but not audio";
  const std::string tone = writeTone("tone");
  for (const Case& c : {
           Case{"bogus:thing", AVAudioSession::InputCheck::Unusable,
                "unknown audio input \"bogus:thing\" (use pulse, pulse:<source>, file:<path> or test)"},
           Case{"file:/nonexistent/in.wav", AVAudioSession::InputCheck::Unusable,
                "\"/nonexistent/in.wav\": no such file (-43)"},
           Case{"file:" + dir, AVAudioSession::InputCheck::Unusable, "\"" + dir + "\": is a directory"},
           Case{"file:" + notAudio, AVAudioSession::InputCheck::Unusable,
                "\"" + notAudio + "\": not an audio file ('typ?')"},
           Case{"file:" + tone, AVAudioSession::InputCheck::Ready, ""},
           Case{"test", AVAudioSession::InputCheck::Ready, ""},
       }) {
    s.setInputSpec(c.input);
    const auto check = s.checkInput();
    EXPECT_EQ(check.result, c.result) << c.input;
    EXPECT_EQ(check.problem, c.problem) << c.input;
  }
  // This program reaches no audio server: the default input is unavailable, not unusable.
  s.setInputSpec("pulse");
  const auto check = s.checkInput();
  EXPECT_EQ(check.result, AVAudioSession::InputCheck::Unavailable);
  EXPECT_EQ(check.problem.rfind("audio server unavailable (-10876): ", 0), 0u) << check.problem;
  EXPECT_TRUE(AVAudioSession::isTransientInputFailure(check.status));
  std::filesystem::remove(notAudio);
  std::filesystem::remove(tone);
}

TEST(AudioSession, ASourceTheServerDoesNotHaveIsRefusedAndNamesTheOnesItHas) {
  if (!testsupport::PrivateAudioServer::available()) GTEST_SKIP() << "pulseaudio is not installed";
  testsupport::PrivateAudioServer server("checked_sink");
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  auto& s = AVAudioSession::sharedInstance();
  s.setInputSpec("pulse:no_such_source");
  ASSERT_TRUE(testsupport::connectToAudioServer(&error)) << error;
  auto check = s.checkInput();
  EXPECT_EQ(check.result, AVAudioSession::InputCheck::Unusable);
  EXPECT_EQ(check.problem,
            "no audio source \"no_such_source\" on the audio server ('!dev'); its sources: checked_sink.monitor");
  s.setInputSpec("pulse:checked_sink.monitor");
  EXPECT_EQ(s.checkInput().result, AVAudioSession::InputCheck::Ready);
  s.setInputSpec("pulse");
  EXPECT_EQ(s.checkInput().result, AVAudioSession::InputCheck::Ready);

  // A capture of a missing source fails with its own status (the source may be plugged in later),
  // at once when the server's list in memory says so.
  s.setInputSpec("pulse:no_such_source");
  OSStatus status = noErr;
  EXPECT_EQ(s.inputBackend(&status), nullptr);
  EXPECT_EQ(status, kAudioHardwareBadDeviceError);
  EXPECT_EQ(s.describeInputProblem(kAudioHardwareBadDeviceError),
            "no audio source \"no_such_source\" on the audio server ('!dev')");
  // A server that is gone refuses at once.
  server.kill();
  ASSERT_TRUE(testsupport::waitFor([] { return !pulse::ensureConnected(); }, 10));
  EXPECT_EQ(s.inputBackend(&status), nullptr);
  EXPECT_EQ(status, kAudioUnitErr_NoConnection);
}

// Start-up's check waits a moment for the server's list of sources, so that a source named wrong is
// refused with the names the server has, also on a connection not yet made; a server that does not
// answer holds it up no longer than that.
TEST(AudioSession, StartUpsCheckWaitsAMomentForTheServersSources) {
  if (!testsupport::PrivateAudioServer::available()) GTEST_SKIP() << "pulseaudio is not installed";
  testsupport::PrivateAudioServer server("listed_sink");
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  auto& s = AVAudioSession::sharedInstance();
  s.setInputSpec("pulse:no_such_source");
  // A server that answers lists its sources within start-up's half second on a machine at rest;
  // a loaded one (the threaded programs under their sanitizer) is given longer, which the check
  // waits for only until the list is in.
  auto secondsOfCheck = [&](AVAudioSession::InputCheck* check, double serverSeconds) {
    testsupport::dropAudioServerConnection();  // as at start-up: no connection is made yet
    const auto start = std::chrono::steady_clock::now();
    *check = s.checkInput(serverSeconds);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  AVAudioSession::InputCheck check;
  secondsOfCheck(&check, 10);
  EXPECT_EQ(check.result, AVAudioSession::InputCheck::Unusable);
  EXPECT_EQ(check.problem, "no audio source \"no_such_source\" on the audio server ('!dev'); its sources: listed_sink.monitor");

  server.freeze();
  const double seconds = secondsOfCheck(&check, 0.5);
  server.thaw();
  EXPECT_EQ(check.result, AVAudioSession::InputCheck::Ready) << "not refused before the server answers";
  EXPECT_GE(seconds, 0.45);
  EXPECT_LT(seconds, 2.5) << "the check waited for a server that does not answer";
  s.setInputSpec("pulse");
}

TEST(AudioSession, APlaybackStreamOnAServerThatStopsAnsweringPlaysOnAClockAfterTheReadyTimeout) {
  if (!testsupport::PrivateAudioServer::available()) GTEST_SKIP() << "pulseaudio is not installed";
  testsupport::PrivateAudioServer server("frozen_sink");
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  ASSERT_TRUE(testsupport::connectToAudioServer(&error)) << error;
  auto output = PulseAudioOutput::sharedIfReachable();
  ASSERT_NE(output, nullptr);
  struct Counting : AudioOutputSource {
    std::atomic<int> pulls{0};
    void renderOutput(float* interleaved, uint32_t frames) override {
      ++pulls;
      std::fill(interleaved, interleaved + frames * 2, 0.0f);
    }
  } source;
  testsupport::LogCapture log;
  server.freeze();
  const auto asked = std::chrono::steady_clock::now();
  OSStatus status = kAudio_ParamError;
  auto stream = output->openStream(&source, 2, 256, &status);
  const double openSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
  const bool opened = stream != nullptr;
  const bool pulledOnAClock = testsupport::waitFor([&] { return source.pulls.load() >= 20; }, 60);
  const double pulledAfter = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
  stream.reset();  // returns: no pull is stuck
  server.thaw();
  EXPECT_LT(openSeconds, 0.1) << "opening the stream waited for the frozen server";
  EXPECT_TRUE(opened);
  EXPECT_EQ(status, noErr);
  EXPECT_TRUE(pulledOnAClock);
  EXPECT_GE(pulledAfter, pulse::kReadyTimeoutMilliseconds / 1000.0 - 0.1);
  EXPECT_LT(pulledAfter, 20) << "well before the client library's own timeout";
  EXPECT_TRUE(log.contains("PulseAudio playback failed: the audio server does not answer"))
      << ::testing::PrintToString(log.lines());
}

// A playback stream opened while the connection is still being made (a file played at once at
// start-up) is opened on the server once the connection is ready: it is not given up for a clock.
TEST(AudioSession, APlaybackStreamOpenedWhileTheConnectionIsBeingMadePlaysOnTheServer) {
  if (!testsupport::PrivateAudioServer::available()) GTEST_SKIP() << "pulseaudio is not installed";
  testsupport::PrivateAudioServer server("early_sink");
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  testsupport::LogCapture log;
  // The connection is being made until the stream was asked for: the server answers nothing till
  // then, and a connection that something made meanwhile is made anew.
  server.freeze();
  testsupport::dropAudioServerConnection();
  ASSERT_FALSE(pulse::ensureConnected());
  ASSERT_TRUE(pulse::connectionAlive()) << "a connection is being made";
  auto output = PulseAudioOutput::sharedIfReachable();
  ASSERT_NE(output, nullptr);
  struct Silence : AudioOutputSource {
    void renderOutput(float* interleaved, uint32_t frames) override { std::fill(interleaved, interleaved + frames, 0.0f); }
  } silence;
  OSStatus status = kAudio_ParamError;
  auto stream = output->openStream(&silence, 1, 256, &status);
  server.thaw();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(status, noErr);
  EXPECT_TRUE(testsupport::waitPolling([&] { return server.clientPlaybackStreams().size() == 1; }, 10, 0.05));
  EXPECT_FALSE(log.contains("PulseAudio playback failed")) << ::testing::PrintToString(log.lines());
  stream.reset();
  EXPECT_TRUE(testsupport::waitPolling([&] { return server.clientPlaybackStreams().empty(); }, 10, 0.05));
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

// Only the programs marked AUDIO_SERVER share the test run's audio server; anything started here
// must find none (otherwise it would play into the sink another test is listening to).
TEST(AudioServerIsolation, ThisProgramReachesNoAudioServer) {
  std::string error;
  EXPECT_FALSE(pulse::ensureConnected(&error));
  EXPECT_FALSE(error.empty());
  const char* server = std::getenv("PULSE_SERVER");
  ASSERT_NE(server, nullptr) << "unset, the client library would look for the desktop's own server";
}

}  // namespace
