// The application built with the automatic profile logic on: the default profile two seconds after
// the analyser screen's set-up, an external microphone announced at start-up or when it is plugged
// in (the popup over the analyser screen), and the session's route changes handled by the device
// inputs service from its creation. The inputs are described through the audio session's test
// hook on the manual clock, and, in the last test, come and go on an audio server of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "overlays/StatusOverlay.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/audio/PulseAudioConnection.h"
#include "platform/audio/PulseAudioInput.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/uikit/UIAlertController.h"
#include "profiles/AutomaticProfileLogic.h"
#include "profiles/DeviceInputsService.h"
#include "profiles/InputProfilesService.h"
#include "tests/app/ProfileScreensHarness.h"
#include "tests/support/AudioServerConnection.h"
#include "tests/support/PrivateAudioServer.h"
#include "tests/support/WaitFor.h"

static_assert(kAutomaticProfileLogicEnabled, "this program tests the build with the automatic profile logic on");

namespace {

using profilestest::phoneMicrophone;
using profilestest::port;

std::shared_ptr<UIAlertController> alertOver(const std::shared_ptr<ViewController>& screen) {
  return std::dynamic_pointer_cast<UIAlertController>(screen->presentedViewController());
}

std::vector<std::string> titles(const std::shared_ptr<UIAlertController>& alert) {
  std::vector<std::string> t;
  for (const auto& a : alert->actions()) t.push_back(a->title());
  return t;
}

class AutomaticProfileLogic : public ProfileScreensHarness {
 protected:
  InputProfilesService& profiles() { return InputProfilesService::sharedService(); }
  DeviceInputsService& inputs() { return DeviceInputsService::sharedService(); }
  void choose(const std::shared_ptr<UIAlertController>& alert, size_t index) {
    ASSERT_LT(index, alert->actions().size());
    tap(alert->buttonForAction(*alert->actions()[index]));
    settle();
  }
  // A route change as the session posts it, from a thread of its own.
  static void postRouteChangeFromAnotherThread(AVAudioSessionRouteChangeReason reason) {
    std::thread([reason] {
      NSNotificationCenter::defaultCenter().postNotificationName(
          AVAudioSessionRouteChangeNotification, nullptr, Value{{AVAudioSessionRouteChangeReasonKey, int64_t(reason)}});
    }).join();
  }

  AVAudioSessionPortDescriptionRef usbPort = port("usb", "USB Mic", AVAudioSessionPortUSBAudio);
  DeviceInputDescriptionRef usb = std::make_shared<DeviceInputDescription>("usb", "USB Mic", AVAudioSessionPortUSBAudio);
};

TEST_F(AutomaticProfileLogic, TwoSecondsAfterSetUpTheBuiltInMicrophonesProfileIsEnabledAndTheBarLeadsToTheProfiles) {
  launchApp();  // half a second
  settle(1.4);
  EXPECT_EQ(profiles().selectedProfileId(), std::nullopt) << "nothing before two seconds";
  EXPECT_TRUE(screen()->vInputPlank->isHidden());
  settle(0.2);
  auto expected = profiles().defaultConnectedProfile();
  ASSERT_TRUE(expected);
  EXPECT_EQ(profiles().selectedProfileId(), expected->profileId());
  EXPECT_EQ(profiles().currentProfile(), expected);
  EXPECT_EQ(alertOver(screen()), nullptr) << "no external microphone, no popup";
  ASSERT_FALSE(screen()->vInputPlank->isHidden());
  EXPECT_EQ(screen()->vInputPlank->currentTitle(), "BOTTOM");
  tap(screen()->vInputPlank);
  settle();
  EXPECT_TRUE(std::dynamic_pointer_cast<InputProfilesTableViewController>(top())) << "the bar opens the profile list";
  // The step runs once per set-up.
  const auto selected = profiles().selectedProfileId();
  profiles().enableProfile(profiles().internalPredefinedProfiles()[1], "test");
  settle(5);
  EXPECT_NE(profiles().selectedProfileId(), selected);
}

TEST_F(AutomaticProfileLogic, AnExternalMicrophoneAtStartUpBringsThePopupInsteadOfTheDefaultProfile) {
  setPorts({phoneMicrophone(), usbPort});
  profiles().addProfile(profileFor(7, "Studio", usb));
  launchApp();
  settle(1.4);
  EXPECT_EQ(alertOver(screen()), nullptr) << "nothing before two seconds";
  settle(0.2);
  auto alert = alertOver(screen());
  ASSERT_TRUE(alert) << "the announcement reached the analyser screen";
  EXPECT_EQ(alert->alertTitle(), "USB Mic connected");
  EXPECT_EQ(titles(alert), (std::vector<std::string>{"Create a new profile", "Use the built-in microphone", "Use Studio"}));
  EXPECT_EQ(profiles().selectedProfileId(), std::nullopt) << "the popup decides, not the start-up step";
  ASSERT_EQ(inputs().connectedExternalInputs().size(), 1u);
  EXPECT_EQ(inputs().connectedExternalInputs()[0]->portId(), "usb");

  choose(alert, 2);
  EXPECT_EQ(profiles().selectedProfileId(), 7);
  EXPECT_EQ(StatusOverlay::kind(), StatusOverlay::Kind::Success);
  ASSERT_FALSE(screen()->vInputPlank->isHidden());
  EXPECT_EQ(screen()->vInputPlank->currentTitle(), "EXTERNAL MIC");
  // The list shows the microphone's profile as connected: it can be chosen there too.
  tap(screen()->vInputPlank);
  settle();
  auto list = std::dynamic_pointer_cast<InputProfilesTableViewController>(top());
  ASSERT_TRUE(list);
  list->tableView->scrollToRowAtIndexPath({1, 0});
  layout();
  auto row = std::dynamic_pointer_cast<InputProfileTableViewCell>(list->tableView->cellForRowAtIndexPath({1, 0}));
  ASSERT_TRUE(row);
  EXPECT_EQ(row->lblTitle->text(), "Studio");
  EXPECT_EQ(row->lblTitle->alpha(), 1);
}

TEST_F(AutomaticProfileLogic, RouteChangesAreHandledOnTheMainThreadFromTheServicesCreation) {
  profiles().addProfile(profileFor(7, "Studio", usb));
  launchApp();
  settle(2);
  ASSERT_EQ(alertOver(screen()), nullptr);
  const auto builtIn = profiles().defaultConnectedProfile();
  ASSERT_TRUE(builtIn);

  // Plugged in: the inputs are refreshed and the microphone announced, on the main thread.
  setPorts({phoneMicrophone(), usbPort});
  std::vector<bool> announcedOnMain;
  auto token = NSNotificationCenter::defaultCenter().addObserverForName(
      DeviceInputsService::kNewExternalInput, nullptr, nullptr,
      [&](const NSNotification&) { announcedOnMain.push_back(NSRunLoop::isMainThread()); });
  testing::internal::CaptureStdout();
  postRouteChangeFromAnotherThread(AVAudioSessionRouteChangeReasonNewDeviceAvailable);
  settle();
  EXPECT_NE(testing::internal::GetCapturedStdout().find("headphone plugged in\n"), std::string::npos);
  EXPECT_EQ(announcedOnMain, std::vector<bool>{true});
  ASSERT_EQ(inputs().connectedExternalInputs().size(), 1u);
  auto alert = alertOver(screen());
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->alertTitle(), "USB Mic connected");
  choose(alert, 2);
  ASSERT_EQ(profiles().selectedProfileId(), 7);

  // Pulled out: the built-in microphone's profile again, and the user is told.
  setPorts({phoneMicrophone()});
  StatusOverlay::resetForTesting();
  testing::internal::CaptureStdout();
  postRouteChangeFromAnotherThread(AVAudioSessionRouteChangeReasonOldDeviceUnavailable);
  settle();
  EXPECT_NE(testing::internal::GetCapturedStdout().find("headphone pulled out\n"), std::string::npos);
  EXPECT_TRUE(inputs().connectedExternalInputs().empty());
  EXPECT_EQ(profiles().selectedProfileId(), builtIn->profileId());
  EXPECT_EQ(StatusOverlay::kind(), StatusOverlay::Kind::Info);
  EXPECT_EQ(StatusOverlay::status(), "The built-in microphone's profile is enabled");
  EXPECT_EQ(screen()->vInputPlank->currentTitle(), "BOTTOM");
  EXPECT_EQ(announcedOnMain.size(), 1u) << "a microphone going is not announced";
}

TEST_F(AutomaticProfileLogic, TheScreenStopsObservingAnnouncementsWhenItGoes) {
  launchApp();
  settle(2);
  std::weak_ptr<ViewController> gone = screen();
  relaunchState();
  ASSERT_TRUE(gone.expired()) << "nothing else keeps the analyser screen";
  NSNotification n;
  n.name = DeviceInputsService::kNewExternalInput;
  n.userObjects[DeviceInputsService::kExternalInputKey] = usb;
  NSNotificationCenter::defaultCenter().postNotification(n);
  clock.step(0.5);  // the delivery on the main queue finds no screen: nothing is shown, nothing breaks
  launchApp();
  NSNotificationCenter::defaultCenter().postNotification(n);
  settle();
  auto alert = alertOver(screen());
  ASSERT_TRUE(alert) << "the new screen observes";
  EXPECT_EQ(alert->alertTitle(), "USB Mic connected");
  settle(2);  // the start-up step of this set-up runs here, not in a later test of the same process
}

// A headset coming and going on an audio server of the test's own, while the application captures
// from it. The manual clock decides when the start-up step runs; the server's changes arrive when
// they arrive.
class AutomaticProfileLogicOnAnAudioServer : public AutomaticProfileLogic {
 protected:
  void SetUp() override {
    if (!testsupport::PrivateAudioServer::available()) GTEST_SKIP() << "pulseaudio is not installed";
    AutomaticProfileLogic::SetUp();
    AVAudioSession::sharedInstance().setPortsForTesting(std::nullopt);
    AVAudioSession::sharedInstance().setInputBackend(nullptr);
    AVAudioSession::sharedInstance().setInputSpec("pulse");
    server = std::make_unique<testsupport::PrivateAudioServer>("automatic_sink");
    std::string error;
    ASSERT_TRUE(server->start(&error)) << error;
    ASSERT_TRUE(testsupport::connectToAudioServer(&error)) << error;
  }
  void TearDown() override {
    if (!server) return;
    AutomaticProfileLogic::TearDown();
    server.reset();
  }
  // Serves the main loop until the condition holds (the server's changes come from its thread),
  // then lets the screens settle.
  bool settleUntil(const std::function<bool()>& condition) {
    const bool held = testsupport::waitFor(condition, 10);
    settle();
    return held;
  }
  // The source each capture stream of the application reads, by name (the server's own streams,
  // such as a remapped source's, are not the application's).
  std::vector<std::string> capturedSources() {
    std::map<std::string, std::string> names;  // index -> name
    std::istringstream sources(server->pactl("list short sources"));
    for (std::string line; std::getline(sources, line);) {
      std::istringstream fields(line);
      std::string index, name;
      if (fields >> index >> name) names[index] = name;
    }
    std::vector<std::string> read;
    std::istringstream outputs(server->pactl("list short source-outputs"));
    for (std::string line; std::getline(outputs, line);) {
      std::istringstream fields(line);
      std::string index, source, client, driver;
      if (fields >> index >> source >> client >> driver && driver == "protocol-native.c") read.push_back(names[source]);
    }
    return read;
  }
  // Whether the application captures, and every capture stream of it reads that source.
  // The server is asked every tenth of a second; the application runs meanwhile.
  bool everyCaptureReads(const std::string& source) {
    auto next = std::chrono::steady_clock::now();
    return settleUntil([&] {
      if (std::chrono::steady_clock::now() < next) return false;
      next = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
      const auto read = capturedSources();
      return !read.empty() && std::all_of(read.begin(), read.end(), [&](const auto& s) { return s == source; });
    });
  }
  std::string plugInHeadset() {
    return server->pactl("load-module module-remap-source master=automatic_sink.monitor source_name=test_headset "
                         "\"source_properties=\\\"device.form_factor=headset device.description='Test Headset'\\\"\"");
  }

  std::unique_ptr<testsupport::PrivateAudioServer> server;
};

TEST_F(AutomaticProfileLogicOnAnAudioServer, AHeadsetPluggedInIsAnnouncedAndItsGoingIsHandled) {
  launchApp();
  settle(2);
  EXPECT_EQ(alertOver(screen()), nullptr) << "no external microphone at start-up";
  EXPECT_EQ(profiles().selectedProfileId(), std::nullopt)
      << "the server reports no microphone facing down, so there is no default profile";
  auto nav = screen()->navigationController();

  // Plugged in: the route change announces it.
  testing::internal::CaptureStdout();
  std::string headset = plugInHeadset();
  const bool announced = settleUntil([&] { return alertOver(screen()) != nullptr; });
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(announced) << "module " << headset;
  EXPECT_NE(out.find("headphone plugged in\n"), std::string::npos) << out;
  auto alert = alertOver(screen());
  EXPECT_EQ(alert->alertTitle(), "Test Headset connected");
  EXPECT_EQ(titles(alert), (std::vector<std::string>{"Create a new profile", "Use the built-in microphone"}));
  ASSERT_EQ(inputs().connectedExternalInputs().size(), 1u);
  EXPECT_EQ(inputs().connectedExternalInputs()[0]->portId(), "pulse:test_headset");

  // A new profile for it: named, stored and opened in the tuning screen, which enables it.
  choose(alert, 0);
  auto dialog = alertOver(screen());
  ASSERT_TRUE(dialog && dialog != alert && !dialog->textFields().empty()) << "the naming dialog";
  choose(dialog, 0);
  ASSERT_TRUE(std::dynamic_pointer_cast<MicProfileSetupViewController>(top()));
  ASSERT_EQ(profiles().profiles().size(), 1u);
  auto created = profiles().profiles()[0];
  EXPECT_EQ(created->inputDevice()->portId(), "pulse:test_headset");
  EXPECT_EQ(profiles().selectedProfileId(), created->profileId());
  EXPECT_TRUE(everyCaptureReads("test_headset")) << testing::PrintToString(capturedSources());

  // Unplugged: handled (no built-in default to fall back to on this server), the tuning screen of
  // the gone input closes, and nothing is announced.
  testing::internal::CaptureStdout();
  server->pactl("unload-module " + headset);
  const bool handled = settleUntil([&] { return inputs().connectedExternalInputs().empty(); });
  const bool closed = settleUntil([&] { return top() == screen(); });
  out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(handled);
  EXPECT_TRUE(closed);
  EXPECT_NE(out.find("headphone pulled out\n"), std::string::npos) << out;
  EXPECT_EQ(alertOver(screen()), nullptr);
  EXPECT_EQ(profiles().selectedProfileId(), created->profileId());
  EXPECT_TRUE(everyCaptureReads("automatic_sink.monitor")) << testing::PrintToString(capturedSources());

  // Plugged in again: the popup offers the profile made for it.
  headset = plugInHeadset();
  ASSERT_TRUE(settleUntil([&] { return alertOver(screen()) != nullptr; })) << "module " << headset;
  alert = alertOver(screen());
  ASSERT_EQ(titles(alert).size(), 3u);
  EXPECT_EQ(titles(alert)[2], "Use " + created->displayName());
  choose(alert, 2);
  EXPECT_EQ(profiles().selectedProfileId(), created->profileId());
  EXPECT_FALSE(screen()->vInputPlank->isHidden());
  // Chosen again, it is what every capture of the application reads again.
  EXPECT_TRUE(everyCaptureReads("test_headset")) << testing::PrintToString(capturedSources());
}

}  // namespace
