// How the audio server's sources become input ports, the session's test hook, and the route
// changes the session posts for the application's own choice of input.
#include <gtest/gtest.h>

#include "platform/audio/AVAudioSessionPorts.h"
#include "platform/audio/TestAudioInput.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSRunLoop.h"

namespace {

PulseSourceInfo source(std::string name, std::string bus = "", std::string formFactor = "",
                       std::vector<std::string> ports = {}, std::string active = "") {
  PulseSourceInfo s;
  s.name = name;
  s.description = "Description of " + name;
  s.bus = std::move(bus);
  s.formFactor = std::move(formFactor);
  s.portNames = ports;
  for (const auto& p : ports) s.portDescriptions.push_back(p == "analog-input-internal-mic" ? "Internal Microphone" : "");
  s.activePort = std::move(active);
  return s;
}

TEST(SourcePorts, TheTypeComesFromTheBusTheFormFactorAndTheActivePort) {
  struct Case {
    PulseSourceInfo source;
    const char* type;
  };
  const Case cases[] = {
      {source("bt", "bluetooth", "headset"), AVAudioSessionPortBluetoothHFP},
      {source("usb", "usb", "microphone"), AVAudioSessionPortUSBAudio},
      {source("headset", "", "headset"), AVAudioSessionPortHeadsetMic},
      {source("phones", "", "headphone"), AVAudioSessionPortHeadsetMic},
      {source("jack", "pci", "internal", {"analog-input-internal-mic", "analog-input-headset-mic"}, "analog-input-headset-mic"),
       AVAudioSessionPortHeadsetMic},
      {source("line", "pci", "", {"analog-input-linein"}, "analog-input-linein"), AVAudioSessionPortLineIn},
      {source("internal", "pci", "internal", {"analog-input-internal-mic", "analog-input-headset-mic"},
              "analog-input-internal-mic"),
       AVAudioSessionPortBuiltInMic},
      {source("null"), AVAudioSessionPortBuiltInMic},
  };
  for (const auto& c : cases) EXPECT_EQ(AVAudioSessionPortTypeForSource(c.source), c.type) << c.source.name;
}

TEST(SourcePorts, MonitorsAreNoInputsAndOnlySourcesWithSeveralPortsHaveDataSources) {
  auto monitor = source("sink.monitor");
  monitor.isMonitor = true;
  EXPECT_EQ(AVAudioSessionPortForSource(monitor), nullptr);

  auto one = AVAudioSessionPortForSource(source("usb", "usb", "", {"analog-input-mic"}, "analog-input-mic"));
  ASSERT_TRUE(one);
  EXPECT_EQ(one->UID(), "pulse:usb");
  EXPECT_EQ(one->portName(), "Description of usb");
  EXPECT_TRUE(one->dataSources().empty());

  auto two = AVAudioSessionPortForSource(source("card", "pci", "internal",
                                                {"analog-input-internal-mic", "analog-input-headset-mic"},
                                                "analog-input-headset-mic"));
  ASSERT_EQ(two->dataSources().size(), 2u);
  EXPECT_EQ(two->dataSources()[0]->dataSourceName(), "Internal Microphone") << "named by the port's description";
  EXPECT_EQ(two->dataSources()[1]->dataSourceName(), "analog-input-headset-mic") << "else by the port's name";
  EXPECT_EQ(two->dataSources()[1]->dataSourceID(), 1);
  EXPECT_EQ(two->dataSources()[0]->orientation(), "") << "the server knows no orientation";
  EXPECT_EQ(two->selectedDataSource(), two->dataSources()[1]) << "the active port is the one in use";
  EXPECT_EQ(two->preferredDataSource(), nullptr);
}

TEST(SourcePorts, ABuiltInMicrophoneWithOnePortOrNoneIsItsOneDataSource) {
  // The usual laptop microphone: one source with one port.
  auto one = AVAudioSessionPortForSource(
      source("laptop", "pci", "internal", {"analog-input-internal-mic"}, "analog-input-internal-mic"));
  ASSERT_TRUE(one);
  EXPECT_EQ(one->portType(), AVAudioSessionPortBuiltInMic);
  ASSERT_EQ(one->dataSources().size(), 1u);
  EXPECT_EQ(one->dataSources()[0]->dataSourceName(), "Internal Microphone") << "named by the port's description";
  EXPECT_EQ(one->dataSources()[0]->dataSourceID(), 0);
  EXPECT_EQ(one->dataSources()[0]->orientation(), "");
  EXPECT_EQ(one->selectedDataSource(), one->dataSources()[0]);

  auto undescribed = AVAudioSessionPortForSource(source("dmic", "", "", {"mic1"}, "mic1"));
  ASSERT_EQ(undescribed->dataSources().size(), 1u);
  EXPECT_EQ(undescribed->dataSources()[0]->dataSourceName(), "mic1") << "else by the port's name";

  auto none = AVAudioSessionPortForSource(source("virtual"));
  ASSERT_EQ(none->dataSources().size(), 1u);
  EXPECT_EQ(none->dataSources()[0]->dataSourceName(), "Description of virtual") << "else by the source";
  EXPECT_EQ(none->portName(), "Description of virtual");

  // External inputs with one port stay without data sources.
  for (const auto& s : {source("usb", "usb", "", {"analog-input-mic"}, "analog-input-mic"), source("headset", "", "headset"),
                        source("line", "pci", "", {"analog-input-linein"}, "analog-input-linein"),
                        source("bt", "bluetooth", "headset")}) {
    auto port = AVAudioSessionPortForSource(s);
    ASSERT_TRUE(port);
    EXPECT_NE(port->portType(), AVAudioSessionPortBuiltInMic) << s.name;
    EXPECT_TRUE(port->dataSources().empty()) << s.name;
  }
}

TEST(SourcePorts, AFileIsABuiltInMicrophoneWhoseDataSourceIsTheFile) {
  auto port = AVAudioSessionPortForFileInput("file:/music/take one.wav");
  EXPECT_EQ(port->UID(), "file:/music/take one.wav");
  EXPECT_EQ(port->portType(), AVAudioSessionPortBuiltInMic);
  ASSERT_EQ(port->dataSources().size(), 1u);
  EXPECT_EQ(port->dataSources()[0]->dataSourceName(), "take one.wav");
}

// The server's descriptions have no length limit and are not checked to be UTF-8; what an input
// profile keeps of a port must be short enough to be read back.
TEST(SourcePorts, NamesFromTheServerAreCutToWellFormedTextOfBoundedLength) {
  const std::string longest(kAVAudioSessionMaxPortNameBytes - 1, 'a');
  auto card = source("card", "pci", "internal", {"analog-input-mic", "analog-input-linein"}, "analog-input-mic");
  card.description = longest + "é and more";        // é would straddle the limit
  card.portDescriptions = {std::string(5000, 'm'), "Line \xFF in"};
  auto port = AVAudioSessionPortForSource(card);
  ASSERT_TRUE(port);
  EXPECT_EQ(port->portName(), longest) << "cut before the character that does not fit";
  ASSERT_EQ(port->dataSources().size(), 2u);
  EXPECT_EQ(port->dataSources()[0]->dataSourceName(), std::string(kAVAudioSessionMaxPortNameBytes, 'm'));
  EXPECT_EQ(port->dataSources()[1]->dataSourceName(), "Line \uFFFD in");

  auto single = source("mic", "pci", "internal", {"analog-input-mic"}, "analog-input-mic");
  single.portDescriptions = {std::string(3000, 'x')};
  ASSERT_EQ(AVAudioSessionPortForSource(single)->selectedDataSource()->dataSourceName().size(),
            kAVAudioSessionMaxPortNameBytes);

  // The UID names the source to the server again: one that does not fit is no input.
  EXPECT_FALSE(AVAudioSessionPortForSource(source(std::string(kAVAudioSessionMaxPortUIDBytes, 's'))));
  EXPECT_FALSE(AVAudioSessionPortForSource(source("bad\xFF")));
  EXPECT_TRUE(AVAudioSessionPortForSource(source(std::string(kAVAudioSessionMaxPortUIDBytes - 6, 's'))));

  auto file = AVAudioSessionPortForFileInput("file:/music/" + std::string(300, 'f') + ".wav");
  EXPECT_EQ(file->dataSources()[0]->dataSourceName(), std::string(kAVAudioSessionMaxPortNameBytes, 'f'));
}

class SessionPorts : public ::testing::Test {
 protected:
  void TearDown() override {
    session.setPortsForTesting(std::nullopt);
    session.setPreferredInput(nullptr, nullptr);
    NSRunLoop::main().runOnce();
  }
  AVAudioSession& session = AVAudioSession::sharedInstance();
};

TEST_F(SessionPorts, TheTestHookDescribesExactlyTheInputsItIsGiven) {
  using DS = AVAudioSessionDataSourceDescription;
  auto builtIn = std::make_shared<AVAudioSessionPortDescription>(
      "built-in", "iPhone Microphone", AVAudioSessionPortBuiltInMic,
      std::vector<AVAudioSessionDataSourceDescriptionRef>{std::make_shared<DS>(1, "Back", AVAudioSessionOrientationBack),
                                                          std::make_shared<DS>(2, "Front", AVAudioSessionOrientationFront),
                                                          std::make_shared<DS>(3, "Bottom", AVAudioSessionOrientationBottom)});
  session.setPortsForTesting(std::vector<AVAudioSessionPortDescriptionRef>{builtIn});
  auto inputs = session.availableInputs();
  ASSERT_EQ(inputs.size(), 1u);
  EXPECT_EQ(inputs[0], builtIn);
  session.setPortsForTesting(std::vector<AVAudioSessionPortDescriptionRef>{});
  EXPECT_TRUE(session.availableInputs().empty());
}

TEST_F(SessionPorts, ChoosingAnotherInputOrDataSourceIsAnOverrideDeliveredOnTheMainQueue) {
  auto port = std::make_shared<AVAudioSessionPortDescription>(
      "built-in", "Microphone", AVAudioSessionPortBuiltInMic,
      std::vector<AVAudioSessionDataSourceDescriptionRef>{
          std::make_shared<AVAudioSessionDataSourceDescription>(1, "Front", AVAudioSessionOrientationFront),
          std::make_shared<AVAudioSessionDataSourceDescription>(2, "Bottom", AVAudioSessionOrientationBottom)});
  session.setPortsForTesting(std::vector<AVAudioSessionPortDescriptionRef>{port});
  std::vector<int64_t> reasons;
  auto token = NSNotificationCenter::defaultCenter().addObserverForName(
      AVAudioSessionRouteChangeNotification, nullptr, nullptr, [&](const NSNotification& n) {
        EXPECT_TRUE(NSRunLoop::isMainThread());
        reasons.push_back(n.userInfo[AVAudioSessionRouteChangeReasonKey].get<int64_t>());
      });
  NSErrorRef error;
  ASSERT_TRUE(session.setPreferredInput(port, &error));
  EXPECT_TRUE(reasons.empty()) << "posted from the main queue, after the call";
  NSRunLoop::main().runOnce();
  EXPECT_EQ(reasons, std::vector<int64_t>{AVAudioSessionRouteChangeReasonOverride});
  ASSERT_TRUE(session.setPreferredInput(port, &error));
  NSRunLoop::main().runOnce();
  EXPECT_EQ(reasons.size(), 1u) << "the same choice again changes no route";
  ASSERT_TRUE(port->setPreferredDataSource(port->dataSources()[1], &error));
  ASSERT_TRUE(session.setPreferredInput(port, &error));
  NSRunLoop::main().runOnce();
  EXPECT_EQ(reasons.size(), 2u) << "another data source is another route";
  auto gone = std::make_shared<AVAudioSessionPortDescription>("usb", "USB", AVAudioSessionPortUSBAudio);
  EXPECT_FALSE(session.setPreferredInput(gone, &error));
  NSRunLoop::main().runOnce();
  EXPECT_EQ(reasons.size(), 2u) << "a refused choice changes nothing";
}

}  // namespace
