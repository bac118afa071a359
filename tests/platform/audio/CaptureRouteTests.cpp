// The route is one for the whole process: every unit that captures from the audio server reads the
// input chosen now, the units already running included, and a chosen input that goes away is
// chosen no more, so that choosing it again when it returns moves the capture back to it. On an
// audio server of the test's own with two microphones that hear different tones, before and after
// the server restarts.
#include <gtest/gtest.h>

#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/AudioUnit.h"
#include "platform/audio/PulseAudioConnection.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "tests/support/AudioServerConnection.h"
#include "tests/support/PrivateAudioServer.h"
#include "tests/support/RemoteIOUnit.h"
#include "tests/support/TonePlayer.h"
#include "tests/support/TwoMicrophoneServer.h"
#include "tests/support/WaitFor.h"

namespace {

constexpr double kBuiltInHz = testsupport::TwoMicrophoneServer::kBuiltInHz;
constexpr double kUSBHz = testsupport::TwoMicrophoneServer::kUSBHz;

// A capturing unit that keeps the last tenth of a second it captured, or everything.
class Recorder {
 public:
  explicit Recorder(bool keepAll = false) : keepAll_(keepAll) {
    unit_ = testsupport::makeRemoteIOUnit(&Recorder::render, this, {.input = true, .output = false, .channels = 1});
  }
  ~Recorder() {
    AudioOutputUnitStop(unit_);
    AudioUnitUninitialize(unit_);
    AudioComponentInstanceDispose(unit_);
  }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  OSStatus start() { return AudioOutputUnitStart(unit_); }
  void stop() {
    AudioOutputUnitStop(unit_);
    std::lock_guard<std::mutex> lock(mutex_);
    recent_.clear();
  }
  // The loudest frequency of the last tenth of a second captured; 0 before that much came.
  double hearing() {
    std::vector<float> recent;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      recent = recent_;
    }
    return recent.size() < kKeep ? 0 : testsupport::dominantFrequency({recent.end() - kKeep, recent.end()});
  }
  // Of a recorder that keeps everything: how many samples it captured, and those from `index` on.
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return recent_.size();
  }
  std::vector<float> since(size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    return {recent_.begin() + std::min(index, recent_.size()), recent_.end()};
  }

 private:
  static constexpr size_t kKeep = 4410;
  static OSStatus render(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts, uint32_t,
                         uint32_t frames, AudioBufferList* io) {
    auto* self = static_cast<Recorder*>(refCon);
    const OSStatus status = AudioUnitRender(self->unit_, flags, ts, 1, frames, io);
    if (status != noErr) return status;
    const auto* samples = static_cast<const float*>(io->mBuffers[0].mData);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->recent_.insert(self->recent_.end(), samples, samples + frames);
    if (!self->keepAll_ && self->recent_.size() > kKeep)
      self->recent_.erase(self->recent_.begin(), self->recent_.end() - kKeep);
    return noErr;
  }
  const bool keepAll_;
  AudioUnit unit_ = nullptr;
  std::mutex mutex_;
  std::vector<float> recent_;
};

// A twentieth of a second, a slice of the capture whose tone is told.
constexpr size_t kWindow = 2205;

class CaptureFollowsTheChosenInput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::PrivateAudioServer::available()) GTEST_SKIP() << "pulseaudio is not installed";
    server = std::make_unique<testsupport::TwoMicrophoneServer>();
    server->start();
    resetObserver = NSNotificationCenter::defaultCenter().addObserverForName(
        AVAudioSessionMediaServicesWereResetNotification, nullptr, nullptr, [this](const NSNotification&) { ++resets; });
  }
  void TearDown() override {
    resetObserver.reset();
    server.reset();
  }

  static AVAudioSession& session() { return AVAudioSession::sharedInstance(); }

  void addMicrophones() { server->addMicrophones(); }
  void plugInUSB() { server->plugInUSB(); }
  void unplugUSB() { server->unplugUSB(); }

  // The input of that UID once the session lists it (the server's news comes from its thread).
  AVAudioSessionPortDescriptionRef input(const std::string& uid) {
    AVAudioSessionPortDescriptionRef found;
    testsupport::waitFor([&] {
      for (const auto& port : session().availableInputs())
        if (port->UID() == uid) found = port;
      return found != nullptr;
    }, 10);
    return found;
  }
  // Whether the session has heard that the input of that UID went (and has handled it).
  bool gone(const std::string& uid) {
    return testsupport::waitFor([&] {
      const auto inputs = session().availableInputs();
      const bool listed = std::any_of(inputs.begin(), inputs.end(), [&](const auto& p) { return p->UID() == uid; });
      auto preferred = session().preferredInput();
      return !listed && !(preferred && preferred->UID() == uid);
    }, 10);
  }
  // Whether every recorder hears `hz` (within the scan's step), waiting for the capture to settle.
  bool allHear(std::vector<Recorder*> recorders, double hz) {
    return testsupport::waitFor([&] {
      return std::all_of(recorders.begin(), recorders.end(),
                         [&](Recorder* r) { return std::abs(r->hearing() - hz) <= 20; });
    }, 10);
  }
  std::string heard(std::vector<Recorder*> recorders) {
    std::string text;
    for (auto* r : recorders) text += std::to_string(r->hearing()) + " Hz ";
    return text;
  }
  std::string currentInput() {
    auto route = session().currentRoute();
    return route.inputs.empty() ? "" : route.inputs.front()->UID();
  }

  // A unit capturing from the start, a second that starts once the USB microphone is chosen: both
  // hear what the chosen microphone hears, through its going and its coming back.
  void checkReplugging(Recorder& early, Recorder& late) {
    NSErrorRef error;
    ASSERT_EQ(early.start(), noErr);
    ASSERT_TRUE(allHear({&early}, kBuiltInHz)) << heard({&early});

    auto usb = input("pulse:test_usb");
    ASSERT_TRUE(usb);
    ASSERT_TRUE(session().setPreferredInput(usb, &error)) << (error ? error->localizedDescription() : "");
    ASSERT_EQ(late.start(), noErr);
    EXPECT_TRUE(allHear({&early, &late}, kUSBHz)) << "chosen: " << heard({&early, &late});
    EXPECT_EQ(currentInput(), "pulse:test_usb");

    // Unplugged: the capture moves to the built-in microphone, which the route now reports.
    unplugUSB();
    ASSERT_TRUE(gone("pulse:test_usb"));
    EXPECT_EQ(session().preferredInput(), nullptr);
    EXPECT_EQ(currentInput(), "pulse:test_builtin");
    EXPECT_TRUE(allHear({&early, &late}, kBuiltInHz)) << "unplugged: " << heard({&early, &late});

    // Plugged in again and chosen again: a change, and both units hear it again.
    std::vector<int64_t> reasons;
    auto observer = NSNotificationCenter::defaultCenter().addObserverForName(
        AVAudioSessionRouteChangeNotification, nullptr, nullptr, [&](const NSNotification& n) {
          reasons.push_back(n.userInfo[AVAudioSessionRouteChangeReasonKey].get<int64_t>());
        });
    plugInUSB();
    usb = input("pulse:test_usb");
    ASSERT_TRUE(usb);
    ASSERT_TRUE(session().setPreferredInput(usb, &error)) << (error ? error->localizedDescription() : "");
    EXPECT_TRUE(allHear({&early, &late}, kUSBHz)) << "chosen again: " << heard({&early, &late});
    EXPECT_EQ(currentInput(), "pulse:test_usb");
    EXPECT_TRUE(testsupport::waitFor([&] {
      return std::count(reasons.begin(), reasons.end(), AVAudioSessionRouteChangeReasonOverride) == 1;
    }, 5)) << "choosing an input that came back is a change";
  }

  std::unique_ptr<testsupport::TwoMicrophoneServer> server;
  NSObserverTokenRef resetObserver;
  int resets = 0;
};

TEST_F(CaptureFollowsTheChosenInput, EveryCaptureReadsTheChosenInputThroughItsGoingAndComingBack) {
  Recorder early, late;
  checkReplugging(early, late);

  // Choosing the built-in microphone moves both units back; choosing nothing leaves them on the
  // server's default source, the same microphone here.
  NSErrorRef error;
  auto builtIn = input("pulse:test_builtin");
  ASSERT_TRUE(builtIn);
  ASSERT_TRUE(session().setPreferredInput(builtIn, &error));
  EXPECT_TRUE(allHear({&early, &late}, kBuiltInHz)) << heard({&early, &late});
  ASSERT_TRUE(session().setPreferredInput(nullptr, &error));
  EXPECT_TRUE(allHear({&early, &late}, kBuiltInHz)) << heard({&early, &late});
}

TEST_F(CaptureFollowsTheChosenInput, EveryCaptureReadsTheChosenInputAfterTheServerRestarts) {
  Recorder early, late;
  NSErrorRef error;
  auto usb = input("pulse:test_usb");
  ASSERT_TRUE(usb);
  ASSERT_TRUE(session().setPreferredInput(usb, &error));
  ASSERT_EQ(early.start(), noErr);
  ASSERT_TRUE(allHear({&early}, kUSBHz)) << heard({&early});

  // The server restarts without the USB microphone: the capture is lost (the session says so), and
  // the choice of a microphone the new server does not have is forgotten once it answers.
  server->kill();
  ASSERT_TRUE(testsupport::waitFor([&] { return resets > 0; }, 10)) << "the lost server is a media-services reset";
  early.stop();
  std::string failure;
  ASSERT_TRUE(server->restart(&failure)) << failure;
  ASSERT_TRUE(testsupport::connectToAudioServer(&failure)) << failure;
  EXPECT_TRUE(testsupport::waitFor([&] { return session().preferredInput() == nullptr; }, 10))
      << "a microphone the restarted server lacks is chosen no more";

  // As an engine does after a reset, the unit starts again; then the same as on the first server.
  addMicrophones();
  checkReplugging(early, late);
}

// The desktop makes another microphone its default input while a capture reads the default: the
// server moves the capture there, and the session says so at once (a change of the route's
// configuration, from the microphone before), not only when asked which input it reads.
TEST_F(CaptureFollowsTheChosenInput, TheServerMovingTheDefaultCaptureIsARouteChangeFromTheMicrophoneBefore) {
  Recorder recorder;
  ASSERT_EQ(recorder.start(), noErr);
  ASSERT_TRUE(allHear({&recorder}, kBuiltInHz)) << heard({&recorder});
  std::vector<std::pair<int64_t, std::string>> changes;
  auto observer = NSNotificationCenter::defaultCenter().addObserverForName(
      AVAudioSessionRouteChangeNotification, nullptr, nullptr, [&](const NSNotification& n) {
        changes.emplace_back(n.userInfo[AVAudioSessionRouteChangeReasonKey].get<int64_t>(),
                             n.userInfo[AVAudioSessionRouteChangePreviousRouteKey].get<std::string>());
      });
  auto moved = [&](const std::string& from) {
    const std::pair<int64_t, std::string> change{AVAudioSessionRouteChangeReasonRouteConfigurationChange,
                                                 "<Route: inputs = (pulse:" + from + ")>"};
    return testsupport::waitFor([&] { return std::count(changes.begin(), changes.end(), change) == 1; }, 10);
  };
  server->server().pactl(std::string("set-default-source ") + testsupport::TwoMicrophoneServer::kUSB);
  EXPECT_TRUE(moved(testsupport::TwoMicrophoneServer::kBuiltIn));
  EXPECT_TRUE(allHear({&recorder}, kUSBHz)) << heard({&recorder});
  server->server().pactl(std::string("set-default-source ") + testsupport::TwoMicrophoneServer::kBuiltIn);
  EXPECT_TRUE(moved(testsupport::TwoMicrophoneServer::kUSB));
  EXPECT_TRUE(allHear({&recorder}, kBuiltInHz)) << heard({&recorder});
  recorder.stop();
}

// Keeps the connection's thread in a task until released (the task is run without the
// connection's lock held).
class HeldThread {
 public:
  // `userdata` is a std::shared_ptr<HeldThread>* the task takes over: a test that gave up waiting
  // for the task does not leave it a dangling one.
  static void hold(pa_threaded_mainloop*, void* userdata) {
    const std::unique_ptr<std::shared_ptr<HeldThread>> owned(static_cast<std::shared_ptr<HeldThread>*>(userdata));
    HeldThread* self = owned->get();
    std::unique_lock<std::mutex> lock(self->mutex_);
    self->held_ = true;
    self->changed_.notify_all();
    self->changed_.wait(lock, [self] { return self->released_; });
  }
  bool waitUntilHeld(double seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return held_; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  ~HeldThread() { release(); }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool released_ = false;
};

// While the stream on a chosen microphone is being made, the microphone before goes on capturing,
// and what it captured meanwhile may reach the capture's thread before the new stream is ready
// (here: the thread is kept from reading for a moment before the choice, as a busy machine
// would). None of it is delivered: the first samples after the choice are the chosen microphone's.
TEST_F(CaptureFollowsTheChosenInput, NothingTheMicrophoneBeforeCapturedWhileTheChosenOnesStreamIsMadeIsDelivered) {
  Recorder recorder(true);
  ASSERT_EQ(recorder.start(), noErr);
  ASSERT_TRUE(testsupport::waitFor([&] { return std::abs(recorder.hearing() - kBuiltInHz) <= 20; }, 10))
      << recorder.hearing() << " Hz";
  auto usb = input("pulse:test_usb");
  ASSERT_TRUE(usb);

  pa_threaded_mainloop* connection = pulse::sharedMainloop();
  ASSERT_NE(connection, nullptr);
  // The connection's thread is kept inside a task of its own, with the connection's lock free, so
  // that the choice below takes its locks in the order the product does and makes the new stream
  // while nothing the server sends is read.
  auto held = std::make_shared<HeldThread>();
  pa_threaded_mainloop_lock(connection);
  pa_threaded_mainloop_once_unlocked(connection, &HeldThread::hold, new std::shared_ptr<HeldThread>(held));
  pa_threaded_mainloop_unlock(connection);
  ASSERT_TRUE(held->waitUntilHeld(10)) << "the connection's thread runs the task";
  // The server goes on sending the built-in microphone's sound, which waits to be read.
  testsupport::waitPolling([] { return false; }, 0.2, 0.2);
  const size_t before = recorder.count();  // nothing is delivered while the thread is held
  NSErrorRef error;
  const bool chosen = session().setPreferredInput(usb, &error);
  held->release();
  ASSERT_TRUE(chosen) << (error ? error->localizedDescription() : "");

  ASSERT_TRUE(testsupport::waitFor([&] { return recorder.count() >= before + 3 * kWindow; }, 10));
  const std::vector<float> after = recorder.since(before);
  for (size_t start = 0; start + kWindow <= 3 * kWindow; start += kWindow) {
    const std::vector<float> window(after.begin() + start, after.begin() + start + kWindow);
    EXPECT_NEAR(testsupport::dominantFrequency(window), kUSBHz, 20) << "samples " << start << " on after the choice";
  }
  recorder.stop();
}

}  // namespace
