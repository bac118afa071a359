#pragma once
// A fresh state of the input-profile services for each test: a new application home and user
// defaults, new device-input and profile services, no shared chart yet, the status overlay hidden,
// no GL (charts analyse without drawing) and a hand-driven test input (so that no chart captures
// from an audio server). The audio session's inputs are described through its test hook; by
// default a phone's built-in microphone with bottom, front and back data sources.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/TestAudioInput.h"
#include "profiles/DeviceInputDescription.h"
#include "profiles/InputProfile.h"
#include "tests/profiles/TestPorts.h"

namespace profilestest {

using Ports = std::vector<AVAudioSessionPortDescriptionRef>;

// A profile for the input with the corrections (eleven, in the default band order) and main gain.
InputProfileRef profileWith(int64_t id, const std::string& name, DeviceInputDescriptionRef device,
                            const std::vector<int64_t>& corrections, std::optional<int64_t> mainGain = 0);

class ProfilesTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Describes the session's inputs.
  void setPorts(const Ports& ports);
  // Forgets the services and the cached user defaults, as a relaunch would (the files stay).
  void relaunch();

  std::shared_ptr<TestAudioInput> input;
};

}  // namespace profilestest
