#include "tests/profiles/ProfilesHarness.h"

#include "analysis/vlxSpectrum.h"
#include "overlays/StatusOverlay.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/graphics/EAGLContext.h"
#include "profiles/DeviceInputsService.h"
#include "profiles/InputProfilesService.h"
#include "profiles/ProfilesSupport.h"
#include "tests/support/TestHome.h"

namespace profilestest {

InputProfileRef profileWith(int64_t id, const std::string& name, DeviceInputDescriptionRef device,
                            const std::vector<int64_t>& corrections, std::optional<int64_t> mainGain) {
  std::vector<SoundTuneBandModelRef> bands;
  const auto& frequencies = InputProfile::defaultBandFrequencies();
  for (size_t i = 0; i < frequencies.size() && i < corrections.size(); ++i)
    bands.push_back(std::make_shared<SoundTuneBandModel>(frequencies[i], corrections[i], 0));
  return std::make_shared<InputProfile>(id, name, std::move(device), std::move(bands),
                                        mainGain ? std::make_shared<MainGainTuneModel>(0, *mainGain, 0) : nullptr);
}

void ProfilesTest::SetUp() {
  NSUserDefaults::resetForTesting();
  testsupport::useFreshApplicationHome();
  EAGLContext::setAvailableForTesting(false);
  input = TestAudioInput::create("test-profiles");
  AVAudioSession::sharedInstance().setInputBackend(input);
  setPorts({phoneMicrophone()});
  InputProfilesService::resetForTesting();
  DeviceInputsService::resetForTesting();
  vlxSpectrum::resetForTesting();
  StatusOverlay::resetForTesting();
}

void ProfilesTest::TearDown() {
  // Main-queue work left by a test (notifications, timers) runs now, while everything exists.
  NSRunLoop::main().runOnce();
  StatusOverlay::resetForTesting();
  vlxSpectrum::resetForTesting();
  InputProfilesService::resetForTesting();
  DeviceInputsService::resetForTesting();
  auto& session = AVAudioSession::sharedInstance();
  session.setPreferredInput(nullptr, nullptr);
  session.setPortsForTesting(std::nullopt);
  session.setInputBackend(nullptr);
  NSRunLoop::main().runOnce();
  tarn::setUsageEventRecorder(nullptr);
  EAGLContext::setAvailableForTesting(true);
  NSUserDefaults::resetForTesting();
}

void ProfilesTest::setPorts(const Ports& ports) { AVAudioSession::sharedInstance().setPortsForTesting(ports); }

void ProfilesTest::relaunch() {
  NSRunLoop::main().runOnce();
  InputProfilesService::resetForTesting();
  DeviceInputsService::resetForTesting();
  vlxSpectrum::resetForTesting();
  NSUserDefaults::resetForTesting();
}

}  // namespace profilestest
