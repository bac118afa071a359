// Where a capture from the audio server begins anew: only where samples were lost. A source that
// pauses hands out nothing for a while, and what it hands out next does not continue what came
// before; a connection thread that was held up finds every sample of the wait kept by the server,
// and those continue the capture. Against a PulseAudio server of the test's own.
#include <gtest/gtest.h>
#include <pulse/thread-mainloop.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/PulseAudioConnection.h"
#include "platform/audio/PulseAudioInput.h"
#include "tests/support/AudioServerConnection.h"
#include "tests/support/PrivateAudioServer.h"
#include "tests/support/WaitFor.h"

namespace {

// The deliveries' sample times: a jump where one does not follow on from the one before.
class Timeline : public AudioInputSink {
 public:
  void audioInputDidCapture(const float*, uint32_t frames, const AudioTimeStamp& timeStamp) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (next_ >= 0 && timeStamp.mSampleTime != next_) ++breaks_;
    next_ = timeStamp.mSampleTime + frames;
    frames_ += frames;
  }
  int breaks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return breaks_;
  }
  uint64_t frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }

 private:
  mutable std::mutex mutex_;
  double next_ = -1;
  int breaks_ = 0;
  uint64_t frames_ = 0;
};

class CaptureGaps : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::PrivateAudioServer::available()) GTEST_SKIP() << "pulseaudio is not installed";
    server = std::make_unique<testsupport::PrivateAudioServer>("gap_sink");
    std::string error;
    ASSERT_TRUE(server->start(&error)) << error;
    ASSERT_TRUE(testsupport::connectToAudioServer(&error)) << error;
    capture = PulseAudioInput::create(server->monitorName());
    ASSERT_EQ(capture->addSink(&timeline), noErr);
    // Running: a second of samples, in one piece.
    ASSERT_TRUE(testsupport::waitFor([&] { return timeline.frames() > uint64_t(kAudioSampleRate); }, 10));
    ASSERT_EQ(timeline.breaks(), 0);
  }
  void TearDown() override {
    if (capture) capture->removeSink(&timeline);
    capture.reset();
    server.reset();
  }
  // The frames delivered over the next `seconds`, from `from`.
  double secondsDeliveredSince(uint64_t from) const { return double(timeline.frames() - from) / kAudioSampleRate; }

  std::unique_ptr<testsupport::PrivateAudioServer> server;
  std::shared_ptr<PulseAudioInput> capture;
  Timeline timeline;
};

TEST_F(CaptureGaps, AConnectionThreadHeldUpWithEverySampleKeptGoesOnAsTheSameCapture) {
  const uint64_t before = timeline.frames();
  const auto start = std::chrono::steady_clock::now();
  pa_threaded_mainloop* mainloop = pulse::sharedMainloop();
  pa_threaded_mainloop_lock(mainloop);  // the connection's thread waits for it, as a held-up thread does
  std::this_thread::sleep_for(std::chrono::milliseconds(650));
  pa_threaded_mainloop_unlock(mainloop);
  testsupport::waitFor([] { return false; }, 1.0);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(timeline.breaks(), 0) << "the samples of the wait were kept and continue the capture";
  EXPECT_GT(secondsDeliveredSince(before), elapsed - 0.3) << "over " << elapsed << " s";
}

TEST_F(CaptureGaps, ASourceSuspendedForMoreThanHalfASecondResumesAsANewCapture) {
  server->pactl("suspend-sink gap_sink 1");
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  server->pactl("suspend-sink gap_sink 0");
  const uint64_t resumed = timeline.frames();
  ASSERT_TRUE(testsupport::waitFor([&] { return timeline.frames() > resumed + uint64_t(kAudioSampleRate / 4); }, 10));
  EXPECT_EQ(timeline.breaks(), 1);
}

}  // namespace
