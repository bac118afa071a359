// Input descriptions (names, logos, headset models, the connected rules, equality, archiving,
// routing) and the device inputs service (external and selectable inputs, the built-in input,
// routing refusals and the classification of route changes).
#include <gtest/gtest.h>

#include "overlays/StatusOverlay.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSRunLoop.h"
#include "profiles/DeviceInputsService.h"
#include "profiles/FakeDeviceInputDescription.h"
#include "profiles/InputProfilesService.h"
#include "profiles/InputProfilesStorage.h"
#include "tests/profiles/ProfilesHarness.h"

namespace {

using namespace profilestest;
using D = DeviceInputDescription;

std::shared_ptr<D> description(const std::string& id, const std::string& name, const std::string& type,
                               std::optional<std::string> source = std::nullopt,
                               std::optional<std::string> orientation = std::nullopt) {
  return std::make_shared<D>(id, name, type, source, source ? std::optional<int64_t>(1) : std::nullopt, orientation);
}
std::shared_ptr<FakeDeviceInputDescription> fake(const std::string& name) {
  return std::make_shared<FakeDeviceInputDescription>("FakeId" + name, name, AVAudioSessionPortBluetoothHFP);
}

class DeviceInputs : public ProfilesTest {
 protected:
  DeviceInputsService& service() { return DeviceInputsService::sharedService(); }
};

TEST_F(DeviceInputs, NamesOfBuiltInMicrophonesAndOtherPorts) {
  auto bottom = description("mic", "iPhone Microphone", AVAudioSessionPortBuiltInMic, "Bottom",
                            AVAudioSessionOrientationBottom);
  EXPECT_EQ(bottom->displayName(), "Built-in Microphone (Bottom)");
  EXPECT_EQ(bottom->orientationDisplayName(), "Bottom");
  EXPECT_EQ(bottom->shortTitle(), "Bottom");
  auto bare = description("mic", "iPhone Microphone", AVAudioSessionPortBuiltInMic);
  EXPECT_EQ(bare->displayName(), "iPhone Microphone") << "no data source: the bare port name";
  EXPECT_EQ(bare->shortTitle(), "External mic");
  auto usb = description("usb", "USB Audio", AVAudioSessionPortUSBAudio, "Line 2");
  EXPECT_EQ(usb->displayName(), "USB Audio (Line 2)");
  EXPECT_EQ(usb->orientationDisplayName(), "USB Audio (Line 2)");
}

TEST_F(DeviceInputs, HeadsetModelsAreToldApartByAHandsFreePortsName) {
  auto pro = description("bt", "Anna's AIRPODS PRO", AVAudioSessionPortBluetoothHFP);
  EXPECT_TRUE(pro->isAirpodsPro());
  EXPECT_TRUE(pro->isAirpods());
  EXPECT_FALSE(pro->isAirpodsMax());
  EXPECT_EQ(pro->shortTitle(), "Airpods Pro");
  EXPECT_EQ(pro->inputLogoImageName(), "airpodsProLogo");
  auto max = description("bt", "AirPods Max", AVAudioSessionPortBluetoothHFP);
  EXPECT_TRUE(max->isAirpodsMax() && max->isAirpods());
  EXPECT_EQ(max->shortTitle(), "Airpods Max");
  auto a2dp = description("bt", "Anna's AirPods Pro", AVAudioSessionPortBluetoothA2DP);
  EXPECT_FALSE(a2dp->isAnyAirpods());
  EXPECT_EQ(a2dp->inputLogoImageName(), "headphonesLogo");
  EXPECT_EQ(description("bt", "Jabra Talk", AVAudioSessionPortBluetoothHFP)->inputLogoImageName(), "micLogo");
}

TEST_F(DeviceInputs, LogosFollowTheTypeAndOrientationAndAreTemplates) {
  const std::pair<std::shared_ptr<D>, const char*> cases[] = {
      {description("m", "Mic", AVAudioSessionPortBuiltInMic, "Back", AVAudioSessionOrientationBack), "backMicLogo"},
      {description("m", "Mic", AVAudioSessionPortBuiltInMic, "Front", AVAudioSessionOrientationFront), "frontMicLogo"},
      {description("m", "Mic", AVAudioSessionPortBuiltInMic, "Top", AVAudioSessionOrientationTop), "bottomMicLogo"},
      {description("m", "Mic", AVAudioSessionPortBuiltInMic), "frontMicLogo"},
      {description("h", "Headset", AVAudioSessionPortHeadsetMic), "wiredMicLogo"},
      {description("u", "USB", AVAudioSessionPortUSBAudio), "wiredMicLogo"},
      {description("a", "AirPods", AVAudioSessionPortBluetoothHFP), "airpodsLogo"},
      {description("l", "Line", AVAudioSessionPortLineIn), "micLogo"},
  };
  for (const auto& [d, name] : cases) {
    EXPECT_EQ(d->inputLogoImageName(), name);
    auto image = d->inputLogoImage();
    ASSERT_TRUE(image) << name << " is a bundle image";
    EXPECT_EQ(image->renderingMode(), UIImageRenderingMode::AlwaysTemplate);
  }
}

TEST_F(DeviceInputs, ConnectedRulesReadTheMarkerAndTheConnectedExternalInputs) {
  auto first = description("bt-1", "Headset One", AVAudioSessionPortBluetoothHFP);
  auto second = description("bt-2", "Headset Two", AVAudioSessionPortBluetoothHFP);
  auto wired = description("wired", "Headset", AVAudioSessionPortHeadsetMic);
  auto builtIn = description("mic", "Microphone", AVAudioSessionPortBuiltInMic);
  auto airPods = fake("AirPods");
  // Nothing connected, as in this system.
  EXPECT_TRUE(builtIn->inputDeviceConnected());
  EXPECT_FALSE(first->inputDeviceConnected());
  EXPECT_FALSE(airPods->inputDeviceConnected());
  EXPECT_FALSE(wired->inputDeviceConnected());
  wired->setInputDeviceConnected(true);
  EXPECT_TRUE(wired->inputDeviceConnected()) << "a wired marker counts without a list";
  // Two Bluetooth inputs listed: only the last one counts, and only with its marker.
  service().setConnectedExternalInputs({description("bt-1", "Headset One", AVAudioSessionPortBluetoothHFP),
                                        description("bt-2", "Headset Two", AVAudioSessionPortBluetoothHFP)});
  EXPECT_FALSE(first->inputDeviceConnected());
  EXPECT_FALSE(second->inputDeviceConnected());
  first->setInputDeviceConnected(true);
  second->setInputDeviceConnected(true);
  EXPECT_FALSE(first->inputDeviceConnected());
  EXPECT_TRUE(second->inputDeviceConnected());
  EXPECT_TRUE(airPods->inputDeviceConnected()) << "a fake stands for any hands-free input";
  service().setConnectedExternalInputs({wired, description("usb", "USB", AVAudioSessionPortUSBAudio)});
  EXPECT_FALSE(airPods->inputDeviceConnected());
}

TEST_F(DeviceInputs, EqualityGoesByPortIdOrAFakesNameAndIsNotSymmetric) {
  auto airPods = fake("AirPods Pro");
  auto named = description("other-id", "airpods pro", AVAudioSessionPortBluetoothHFP);
  EXPECT_TRUE(named->isEqual(airPods));
  EXPECT_TRUE(airPods->isEqual(named));
  auto stranger = description("bt-9", "Speaker Phone", AVAudioSessionPortBluetoothHFP);
  EXPECT_FALSE(stranger->isEqual(airPods));
  EXPECT_TRUE(airPods->isEqual(stranger)) << "every fake equals every hands-free description";
  EXPECT_TRUE(stranger->isEqual(description("bt-9", "Renamed", AVAudioSessionPortUSBAudio)));
  EXPECT_FALSE(stranger->isEqual(nullptr));
  EXPECT_EQ(stranger->hash(), description("bt-9", "x", "y")->hash());
}

TEST_F(DeviceInputs, DescriptionsSurviveTheArchiveWithoutTheirMarker) {
  auto withSource = description("mic", "iPhone Microphone", AVAudioSessionPortBuiltInMic, "Back",
                                AVAudioSessionOrientationBack);
  withSource->setDataSourceId(7);
  auto bare = description("usb", "USB", AVAudioSessionPortUSBAudio);
  bare->setInputDeviceConnected(true);
  auto profiles = std::vector<InputProfileRef>{std::make_shared<InputProfile>(1, "one", withSource),
                                               std::make_shared<InputProfile>(2, "two", bare),
                                               std::make_shared<InputProfile>(3, "three", fake("AirPods"))};
  NSErrorRef error;
  auto data = InputProfilesStorage::archiveProfiles(profiles, &error);
  ASSERT_TRUE(data) << (error ? error->localizedDescription() : "");
  auto back = InputProfilesStorage::unarchiveProfiles(*data, &error);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->size(), 3u);
  auto d1 = (*back)[0]->inputDevice(), d2 = (*back)[1]->inputDevice(), d3 = (*back)[2]->inputDevice();
  EXPECT_EQ(d1->portId(), "mic");
  EXPECT_EQ(d1->dataSourceName(), "Back");
  EXPECT_EQ(d1->dataSourceId(), 7);
  EXPECT_EQ(d1->dataSourceOrientation(), AVAudioSessionOrientationBack);
  EXPECT_EQ(d2->dataSourceName(), std::nullopt);
  EXPECT_EQ(d2->dataSourceId(), std::nullopt);
  EXPECT_EQ(d2->dataSourceOrientation(), std::nullopt);
  EXPECT_FALSE(d2->connectedMarker()) << "the marker is not archived";
  EXPECT_TRUE(d3->isFake());
}

TEST_F(DeviceInputs, SelectingADescriptionRoutesTheSessionToItsPortAndDataSource) {
  auto mic = phoneMicrophone();
  auto usb = port("usb", "USB Audio CODEC", AVAudioSessionPortUSBAudio);
  auto airPods = port("bt", "AirPods", AVAudioSessionPortBluetoothHFP);
  setPorts({mic, usb, airPods});
  auto front = description("built-in-mic", "iPhone Microphone", AVAudioSessionPortBuiltInMic, "Front",
                           AVAudioSessionOrientationFront);
  front->setDataSourceId(2);
  front->selectCurrentSource();
  EXPECT_EQ(AVAudioSession::sharedInstance().preferredInput(), mic);
  EXPECT_EQ(mic->preferredDataSource(), mic->dataSources()[1]);
  ASSERT_TRUE(service().currentDevice());
  EXPECT_EQ(service().currentDevice()->dataSourceName(), "Front");
  fake("AirPods Max")->selectCurrentSource();
  EXPECT_EQ(AVAudioSession::sharedInstance().preferredInput(), airPods) << "any hands-free port";
  EXPECT_EQ(service().currentDevice()->portId(), "bt");
  // Without inputs nothing changes.
  setPorts({});
  description("usb", "USB Audio CODEC", AVAudioSessionPortUSBAudio)->selectCurrentSource();
  EXPECT_EQ(service().currentDevice()->portId(), "bt");
}

TEST_F(DeviceInputs, ExternalAndSelectableInputsAreTakenFromTheSessionsPorts) {
  auto usb = port("usb", "USB Interface", AVAudioSessionPortUSBAudio,
                  {{"Input 1", ""}, {"Input 2", ""}, {"Input 3", ""}});
  setPorts({phoneMicrophone(), port("wired", "Headset Microphone", AVAudioSessionPortHeadsetMic),
            port("bt", "My AirPods", AVAudioSessionPortBluetoothHFP),
            port("a2dp", "Kitchen Speaker", AVAudioSessionPortBluetoothA2DP), usb});
  service().updateExternalInputs();
  std::vector<std::string> connected;
  for (const auto& d : service().connectedExternalInputs()) connected.push_back(d->portId());
  EXPECT_EQ(connected, (std::vector<std::string>{"wired", "bt", "usb"})) << "A2DP and built-in are not external inputs";
  std::vector<std::string> selectable;
  for (const auto& d : service().selectableExternalInputs()) selectable.push_back(d->displayName());
  EXPECT_EQ(selectable, (std::vector<std::string>{"Headset Microphone", "Kitchen Speaker", "USB Interface (Input 1)",
                                                  "USB Interface (Input 2)", "USB Interface (Input 3)"}));
  EXPECT_EQ(service().builtInInputs().size(), 1u);
}

TEST_F(DeviceInputs, TheBottomInputIsThePortWithABottomFacingSourceAsItIsSelected) {
  auto mic = phoneMicrophone();
  setPorts({mic});
  NSErrorRef error;
  mic->setPreferredDataSource(mic->dataSources()[2], &error);
  auto bottom = service().builtInBottomInput();
  ASSERT_TRUE(bottom);
  EXPECT_EQ(bottom->portId(), "built-in-mic");
  EXPECT_EQ(bottom->dataSourceName(), "Back") << "the port's preferred data source, not the bottom one";
  setPorts({port("mic", "Microphone", AVAudioSessionPortBuiltInMic, {{"Front", AVAudioSessionOrientationFront}})});
  EXPECT_EQ(service().builtInBottomInput(), nullptr);
}

TEST_F(DeviceInputs, ARefusedPortLeavesTheCurrentDeviceAndNoExternalMicrophoneIsAnnounced) {
  setPorts({phoneMicrophone(), port("usb", "USB", AVAudioSessionPortUSBAudio)});
  service().updateExternalInputs();
  int announced = 0;
  auto token = NSNotificationCenter::defaultCenter().addObserverForName(
      DeviceInputsService::kNewExternalInput, nullptr, nullptr, [&](const NSNotification&) { ++announced; });
  EXPECT_FALSE(service().checkCurrentInputsForExternalMic());
  NSRunLoop::main().runOnce();
  EXPECT_EQ(announced, 0);
  testing::internal::CaptureStdout();
  service().overrideInput(port("gone", "Unplugged", AVAudioSessionPortUSBAudio));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(service().currentDevice(), nullptr);
  EXPECT_NE(out.find("override input to Unplugged"), std::string::npos);
  EXPECT_NE(out.find("not an available input"), std::string::npos) << out;
}

NSNotification routeChange(std::optional<int64_t> reason) {
  NSNotification n;
  n.name = AVAudioSessionRouteChangeNotification;
  n.userInfo = Value::object();
  if (reason) n.userInfo[AVAudioSessionRouteChangeReasonKey] = *reason;
  return n;
}

TEST_F(DeviceInputs, RouteChangesAreClassifiedByReasonAndAlwaysRefreshTheExternalInputs) {
  setPorts({phoneMicrophone(), port("usb", "USB", AVAudioSessionPortUSBAudio)});
  const std::pair<std::optional<int64_t>, const char*> cases[] = {
      {0, "unknown"}, {1, "headphone plugged in"}, {4, "override"}, {5, "default"}, {6, "wakeFromSleep"},
      {7, "noSuitableRouteForCategory"}, {8, "routeConfigurationChange"}, {9, "default"}, {std::nullopt, "default"}};
  for (const auto& [reason, line] : cases) {
    service().setConnectedExternalInputs({});
    testing::internal::CaptureStdout();
    service().audioRouteDidChange(routeChange(reason));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(line) + "\n");
    EXPECT_EQ(service().connectedExternalInputs().size(), 1u) << line;
  }
}

TEST_F(DeviceInputs, AnOldDeviceGoneEnablesTheDefaultProfileAndSaysSo) {
  setPorts({phoneMicrophone()});
  testing::internal::CaptureStdout();
  service().handleRouteChange(routeChange(AVAudioSessionRouteChangeReasonOldDeviceUnavailable));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("headphone pulled out"), std::string::npos);
  auto& profiles = InputProfilesService::sharedService();
  ASSERT_TRUE(profiles.selectedProfileId());
  EXPECT_EQ(*profiles.selectedProfileId(), profiles.defaultConnectedProfile()->profileId());
  EXPECT_EQ(StatusOverlay::kind(), StatusOverlay::Kind::Info);
  EXPECT_EQ(StatusOverlay::status(), "The built-in microphone's profile is enabled");
}

TEST_F(DeviceInputs, ACategoryChangeSelectsTheCurrentDeviceAgain) {
  auto mic = phoneMicrophone();
  auto usb = port("usb", "USB", AVAudioSessionPortUSBAudio);
  setPorts({mic, usb});
  auto back = description("built-in-mic", "iPhone Microphone", AVAudioSessionPortBuiltInMic, "Back",
                          AVAudioSessionOrientationBack);
  back->setDataSourceId(3);
  service().setCurrentDevice(back);
  // The route runs through the USB input now, not through the current device.
  NSErrorRef error;
  AVAudioSession::sharedInstance().setPreferredInput(usb, &error);
  testing::internal::CaptureStdout();
  service().handleRouteChange(routeChange(AVAudioSessionRouteChangeReasonCategoryChange));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(AVAudioSession::sharedInstance().preferredInput(), mic);
  EXPECT_EQ(mic->preferredDataSource(), mic->dataSources()[2]);
}

}  // namespace
