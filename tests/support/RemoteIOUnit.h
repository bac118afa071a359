#pragma once
// A remote I/O unit made and initialised as the audio tests need it: input and output buses
// enabled as asked, float non-interleaved samples of `channels` channels on both sides, at most
// `maxFrames` frames per render, and the render callback installed. Each step is expected to
// succeed (a failure is a test failure).
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "platform/audio/AudioUnit.h"

namespace testsupport {

struct RemoteIOUnitOptions {
  bool input = true;
  // Whether the output bus is enabled; none leaves the unit's default.
  std::optional<bool> output;
  uint32_t channels = 1;
  uint32_t maxFrames = 512;
};

inline AudioUnit makeRemoteIOUnit(AURenderCallback callback, void* refCon, const RemoteIOUnitOptions& options) {
  AudioComponentDescription d{kAudioUnitType_Output, kAudioUnitSubType_RemoteIO, kAudioUnitManufacturer_System, 0, 0};
  AudioUnit unit = nullptr;
  EXPECT_EQ(AudioComponentInstanceNew(AudioComponentFindNext(nullptr, &d), &unit), noErr);
  uint32_t in = options.input;
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Input, 1, &in, 4), noErr);
  if (options.output) {
    uint32_t out = *options.output;
    EXPECT_EQ(AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Output, 0, &out, 4), noErr);
  }
  auto f = MakeFloatNonInterleavedFormat(options.channels);
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1, &f, sizeof f), noErr);
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &f, sizeof f), noErr);
  uint32_t maxFrames = options.maxFrames;
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, &maxFrames, 4),
            noErr);
  AURenderCallbackStruct cb{callback, refCon};
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &cb, sizeof cb),
            noErr);
  EXPECT_EQ(AudioUnitInitialize(unit), noErr);
  return unit;
}

}  // namespace testsupport
