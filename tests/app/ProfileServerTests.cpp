// The input profiles against a real audio server: a PulseAudio server of each test's own (so that
// sources can be added and removed without touching the shared one), with the application
// capturing from it. Sources added while the application runs appear among the inputs with their
// type; their going is a route change that closes the tuning screen of that input; and a profile
// enabled from the list moves the shared chart's levels by its corrections on a known tone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "analysis/SpectrumWrapper.h"
#include "analysis/vlxSpectrum.h"
#include "overlays/StatusOverlay.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/audio/AudioInputBackend.h"
#include "platform/audio/PulseAudioConnection.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIStoryboard.h"
#include "profiles/DeviceInputsService.h"
#include "profiles/InputProfilesService.h"
#include "profiles/InputProfilesTableViewController.h"
#include "profiles/MicProfileSetupViewController.h"
#include "tests/app/AppHarness.h"
#include "tests/app/ProfileScreensHarness.h"
#include "tests/support/AudioServerConnection.h"
#include "tests/support/PrivateAudioServer.h"
#include "tests/support/TonePlayer.h"
#include "tests/support/WaitFor.h"

namespace {

class Levels : public FFTValuesDelegate {
 public:
  std::vector<float> octaves;
  int frames = 0;
  void fftValues(const std::vector<float>& levels) override {
    octaves = levels;
    ++frames;
  }
};

class ProfilesOnAnAudioServer : public AppHarness {
 protected:
  void SetUp() override {
    if (!testsupport::PrivateAudioServer::available()) GTEST_SKIP() << "pulseaudio is not installed";
    AppHarness::SetUp();
    // Capture from the server, as the application does.
    AVAudioSession::sharedInstance().setInputBackend(nullptr);
    AVAudioSession::sharedInstance().setInputSpec("pulse");
    resetProfileServices();
    server = std::make_unique<testsupport::PrivateAudioServer>("profiles_sink");
    std::string error;
    ASSERT_TRUE(server->start(&error)) << error;
    ASSERT_TRUE(testsupport::connectToAudioServer(&error)) << error;
    observer = NSNotificationCenter::defaultCenter().addObserverForName(
        AVAudioSessionRouteChangeNotification, nullptr, nullptr, [this](const NSNotification& n) {
          EXPECT_TRUE(NSRunLoop::isMainThread());
          reasons.push_back(n.userInfo[AVAudioSessionRouteChangeReasonKey].get<int64_t>());
        });
  }
  void TearDown() override {
    if (!server) return;
    observer.reset();
    endProfileServices([this] { AppHarness::TearDown(); });
    server.reset();
  }
  // Loads a module; returns its index.
  std::string load(const std::string& module) {
    const std::string index = server->pactl("load-module " + module);
    EXPECT_FALSE(index.empty() || !std::isdigit(static_cast<unsigned char>(index[0]))) << index;
    return index;
  }
  AVAudioSessionPortDescriptionRef input(const std::string& uid) {
    for (const auto& p : AVAudioSession::sharedInstance().availableInputs())
      if (p->UID() == uid) return p;
    return nullptr;
  }
  bool sawReason(int64_t reason) { return std::find(reasons.begin(), reasons.end(), reason) != reasons.end(); }
  // Serves the main run loop, laying the screens out, until the condition holds.
  bool settleUntil(const std::function<bool()>& condition, double timeoutSeconds = 10) {
    return testsupport::waitFor([&] {
      layout();
      layout();
      return condition();
    }, timeoutSeconds);
  }

  std::unique_ptr<testsupport::PrivateAudioServer> server;
  std::vector<int64_t> reasons;
  NSObserverTokenRef observer;
};

TEST_F(ProfilesOnAnAudioServer, SourcesAddedWhileRunningAreInputsOfTheirTypeAndTheirComingAndGoingAreRouteChanges) {
  launch();
  EXPECT_EQ(input("pulse:profiles_sink.monitor"), nullptr) << "a monitor is no input";
  const std::string headset = load("module-remap-source master=profiles_sink.monitor source_name=test_headset "
                                   "\"source_properties=\\\"device.form_factor=headset "
                                   "device.description='Test Headset'\\\"\"");
  ASSERT_TRUE(testsupport::waitFor([&] { return sawReason(AVAudioSessionRouteChangeReasonNewDeviceAvailable); }, 10));
  auto port = input("pulse:test_headset");
  ASSERT_TRUE(port);
  EXPECT_EQ(port->portType(), AVAudioSessionPortHeadsetMic);
  EXPECT_EQ(port->portName(), "Test Headset");
  load("module-null-source source_name=test_null");
  // Each source's coming is a change of its own (the chart's capture moving to the desktop's new
  // default input is another).
  ASSERT_TRUE(testsupport::waitFor([&] {
    return input("pulse:test_null") != nullptr &&
           std::count(reasons.begin(), reasons.end(), AVAudioSessionRouteChangeReasonNewDeviceAvailable) == 2;
  }, 10));
  EXPECT_EQ(input("pulse:test_null")->portType(), AVAudioSessionPortBuiltInMic);
  // The profile screens see them: the headset can get a profile, the null source is built in.
  EXPECT_TRUE(DeviceInputsService::sharedService().connectedExternalInputs().empty())
      << "nothing refreshes the connected inputs while the automatic logic is off";
  auto selectable = DeviceInputsService::sharedService().selectableExternalInputs();
  ASSERT_EQ(selectable.size(), 1u);
  EXPECT_EQ(selectable[0]->displayName(), "Test Headset");
  EXPECT_EQ(DeviceInputsService::sharedService().builtInInputs().size(), 1u);
  // A new output brings only a monitor: no input changed, no route change. The server reports its
  // events in order, so once a source loaded after it has arrived, the sink's turn has passed.
  const size_t before = reasons.size();
  load("module-null-sink sink_name=another_sink");
  load("module-null-source source_name=after_the_sink");
  ASSERT_TRUE(testsupport::waitFor([&] { return input("pulse:after_the_sink") != nullptr; }, 10));
  ASSERT_TRUE(testsupport::waitFor([&] { return reasons.size() > before; }, 10));
  EXPECT_EQ(reasons.size(), before + 1) << "only the source that came after the sink changed the route";
  EXPECT_EQ(reasons.back(), AVAudioSessionRouteChangeReasonNewDeviceAvailable);
  // The headset goes.
  server->pactl("unload-module " + headset);
  ASSERT_TRUE(testsupport::waitFor([&] { return sawReason(AVAudioSessionRouteChangeReasonOldDeviceUnavailable); }, 10));
  EXPECT_EQ(input("pulse:test_headset"), nullptr);
}

TEST_F(ProfilesOnAnAudioServer, ABuiltInSourceWithoutSeveralPortsIsNamedAsTheBuiltInMicrophone) {
  // A source with no ports, as a laptop's one microphone may be.
  load("module-null-source source_name=test_null \"description='Laptop Microphone'\"");
  launch();
  auto port = input("pulse:test_null");
  ASSERT_TRUE(port);
  ASSERT_EQ(port->portType(), AVAudioSessionPortBuiltInMic);
  auto mic = DeviceInputDescription::withPort(*port);
  EXPECT_EQ(mic->shortTitle(), "Laptop Microphone");
  // Its profile enabled, the current-input bar names the microphone, not an external one.
  InputProfilesService::sharedService().enableProfile(std::make_shared<InputProfile>(4, "Laptop", mic), "test");
  settleUntil([&] {
    auto preferred = AVAudioSession::sharedInstance().preferredInput();
    return !screen()->vInputPlank->isHidden() && screen()->vInputPlank->currentTitle() == "LAPTOP MICROPHONE" &&
           preferred && preferred->UID() == "pulse:test_null";
  });
  EXPECT_FALSE(screen()->vInputPlank->isHidden());
  EXPECT_EQ(screen()->vInputPlank->currentTitle(), "LAPTOP MICROPHONE");
  EXPECT_EQ(AVAudioSession::sharedInstance().preferredInput()->UID(), "pulse:test_null");
  // Its predefined profile is the built-in microphone's, with the table of a microphone of no
  // known orientation.
  bool found = false;
  for (const auto& profile : InputProfilesService::sharedService().internalPredefinedProfiles()) {
    if (!profile->inputDevice()->isEqual(mic.get())) continue;
    found = true;
    EXPECT_TRUE(profile->inputDevice()->inputDeviceConnected());
    EXPECT_EQ(profile->mainGain()->fixValue(), -4);
  }
  EXPECT_TRUE(found);
}

TEST_F(ProfilesOnAnAudioServer, UnpluggingTheTuningScreensInputClosesIt) {
  const std::string headset = load("module-remap-source master=profiles_sink.monitor source_name=test_headset "
                                   "source_properties=device.form_factor=headset");
  launch();
  auto port = input("pulse:test_headset");
  ASSERT_TRUE(port);
  auto profile = std::make_shared<InputProfile>(1, "Headset", DeviceInputDescription::withPort(*port));
  auto tuning = std::dynamic_pointer_cast<MicProfileSetupViewController>(
      UIStoryboard::storyboardWithName("AppSettings")->instantiateViewControllerWithIdentifier("microphoneProfileSetup"));
  tuning->setInputProfile(profile);
  auto nav = screen()->navigationController();
  nav->pushViewController(tuning, false);
  // Its set-up selects the headset: the application's own choice is an override and leaves it open.
  ASSERT_TRUE(testsupport::waitFor([&] { return sawReason(AVAudioSessionRouteChangeReasonOverride); }, 10));
  settleUntil([] {
    auto preferred = AVAudioSession::sharedInstance().preferredInput();
    return preferred && preferred->UID() == "pulse:test_headset";
  });
  ASSERT_TRUE(AVAudioSession::sharedInstance().preferredInput());
  EXPECT_EQ(AVAudioSession::sharedInstance().preferredInput()->UID(), "pulse:test_headset");
  EXPECT_EQ(nav->topViewController(), tuning);
  server->pactl("unload-module " + headset);
  EXPECT_TRUE(testsupport::waitFor([&] { return nav->topViewController() != tuning; }, 10));
}

TEST_F(ProfilesOnAnAudioServer, AProfileEnabledFromTheListMovesTheSharedChartsLevelsByItsCorrections) {
  load("module-remap-source master=profiles_sink.monitor source_name=test_mic "
       "\"source_properties=\\\"device.form_factor=internal device.description='Test Microphone'\\\"\"");
  testsupport::TonePlayer tone("profiles_sink", 1000, 0.1);
  ASSERT_TRUE(tone.ok());
  launch();
  auto micPort = input("pulse:test_mic");
  ASSERT_TRUE(micPort);
  EXPECT_EQ(micPort->portType(), AVAudioSessionPortBuiltInMic);
  auto mic = DeviceInputDescription::withPort(*micPort);
  auto& service = InputProfilesService::sharedService();
  // 500 Hz to 2 kHz corrected by +12 dB, so the whole 1 kHz octave rises by 12; a gain of -5.
  auto tuned = std::make_shared<InputProfile>(2, "Tuned", mic);
  for (size_t i : {4, 5, 6}) tuned->tuneBands()[i]->setFixValue(12);
  tuned->mainGain()->setFixValue(-5);
  service.addProfile(tuned);
  auto flat = std::make_shared<InputProfile>(3, "Flat", mic);
  service.enableProfile(flat, "test");

  auto chart = SpectrumWrapper::spectrumObject();
  auto levels = std::make_shared<Levels>();
  chart->setFftDelegate(levels);
  // The 1 kHz octave's level, averaged over half a second of frames.
  auto level = [&] {
    double sum = 0;
    int n = 0;
    const int until = levels->frames + 12;
    testsupport::waitFor([&] {
      if (levels->octaves.size() == 10 && std::isfinite(levels->octaves[5])) {
        sum += levels->octaves[5];
        ++n;
      }
      return levels->frames >= until;
    }, 10);
    return n ? sum / n : NAN;
  };
  // The tone has reached the chart when two half-seconds agree.
  double baseline = level();
  for (int i = 0; i < 20; ++i) {
    const double next = level();
    if (std::fabs(next - baseline) < 0.5 && next > -100) break;
    baseline = next;
  }
  ASSERT_GT(baseline, -100) << "the tone is heard";

  screen()->vInputPlank->sendActionsForControlEvents(UIControlEventTouchUpInside);
  settleUntil([&] {
    return std::dynamic_pointer_cast<InputProfilesTableViewController>(
               screen()->navigationController()->topViewController()) != nullptr;
  });
  auto list = std::dynamic_pointer_cast<InputProfilesTableViewController>(screen()->navigationController()->topViewController());
  ASSERT_TRUE(list);
  list->tableView->scrollToRowAtIndexPath({1, 0});
  layout();
  auto row = list->tableView->cellForRowAtIndexPath({1, 0});
  ASSERT_TRUE(row);
  tap(row);
  EXPECT_EQ(service.selectedProfileId(), 2);
  // The capture moves to the profile's input.
  EXPECT_TRUE(testsupport::waitFor([] {
    auto backend = AVAudioSession::sharedInstance().inputBackend();
    return backend && backend->identifier() == "pulse:test_mic" && backend->sinkCount() > 0;
  }, 10));
  double shifted = NAN;
  const bool moved = testsupport::waitFor([&] {
    shifted = level();
    return std::fabs(shifted - (baseline + 12 - 5)) <= 1.5;
  }, 20);
  EXPECT_TRUE(moved) << "baseline " << baseline << " dB, after " << shifted << " dB";
}

}  // namespace
