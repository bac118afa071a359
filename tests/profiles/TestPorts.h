#pragma once
// Inputs as the audio session's test hook describes them, for the tests of the input profiles and
// of their screens.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/audio/AVAudioSession.h"

namespace profilestest {

// A port with data sources of the names and orientations given, numbered 1, 2, ... in order.
inline AVAudioSessionPortDescriptionRef port(const std::string& uid, const std::string& name, const std::string& type,
                                             std::vector<std::pair<std::string, std::string>> sources = {}) {
  std::vector<AVAudioSessionDataSourceDescriptionRef> list;
  int64_t id = 1;
  for (const auto& [sourceName, orientation] : sources)
    list.push_back(std::make_shared<AVAudioSessionDataSourceDescription>(id++, sourceName, orientation));
  return std::make_shared<AVAudioSessionPortDescription>(uid, name, type, std::move(list));
}

// The phone's built-in microphone: data sources Bottom, Front and Back (ids 1, 2, 3), in that order.
inline AVAudioSessionPortDescriptionRef phoneMicrophone() {
  return port("built-in-mic", "iPhone Microphone", AVAudioSessionPortBuiltInMic,
              {{"Bottom", AVAudioSessionOrientationBottom},
               {"Front", AVAudioSessionOrientationFront},
               {"Back", AVAudioSessionOrientationBack}});
}

}  // namespace profilestest
