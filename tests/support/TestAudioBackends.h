#pragma once
// A fixture for tests of audio engines without an audio server: each test runs with the audio
// session's input and output set to hand-driven test backends (the test pushes the samples and
// pulls what is played, on its own threads), and the session is left with neither after it.
#include <gtest/gtest.h>

#include <memory>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/TestAudioInput.h"
#include "platform/audio/TestAudioOutput.h"

namespace testsupport {

class TestAudioBackendsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    input = TestAudioInput::create();
    output = TestAudioOutput::create();
    AVAudioSession::sharedInstance().setInputBackend(input);
    AVAudioSession::sharedInstance().setOutputBackend(output);
  }
  void TearDown() override {
    AVAudioSession::sharedInstance().setInputBackend(nullptr);
    AVAudioSession::sharedInstance().setOutputBackend(nullptr);
  }
  std::shared_ptr<TestAudioInput> input;
  std::shared_ptr<TestAudioOutput> output;
};

}  // namespace testsupport
