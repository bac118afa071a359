#include "profiles/PredefinedInputProfile.h"

#include "platform/audio/AVAudioSession.h"
#include "profiles/FakeDeviceInputDescription.h"
#include "profiles/ProfilesSupport.h"

const PredefinedInputProfile::Table& PredefinedInputProfile::builtInBackTable() {
  static const Table t{{-5, 6, 1, 5, 0, 5, -4, 4, 1, 2, 2}, -6};
  return t;
}
const PredefinedInputProfile::Table& PredefinedInputProfile::builtInFrontTable() {
  static const Table t{{-9, 1, 5, 3, 3, 4, 4, 2, 1, 0, 0}, -4};
  return t;
}
const PredefinedInputProfile::Table& PredefinedInputProfile::builtInOtherTable() {
  static const Table t{{-2, 8, 1, 4, 2, 4, 4, 0, 5, 3, 3}, -4};
  return t;
}
const PredefinedInputProfile::Table& PredefinedInputProfile::airPodsMaxAndProTable() {
  static const Table t{{0, 8, 11, 4, 2, -1, -2, -7, 0, 0, 0}, -6};
  return t;
}
const PredefinedInputProfile::Table& PredefinedInputProfile::airPodsTable() {
  static const Table t{{-17, 12, 19, 6, 8, 4, 0, -2, 0, 0, 0}, -8};
  return t;
}

void PredefinedInputProfile::applyTable(const Table& table) {
  std::vector<SoundTuneBandModelRef> bands;
  const auto& frequencies = defaultBandFrequencies();
  for (size_t i = 0; i < frequencies.size() && i < table.bands.size(); ++i) {
    bands.push_back(std::make_shared<SoundTuneBandModel>(frequencies[i], table.bands[i], 0));
  }
  setTuneBands(std::move(bands));
  setMainGain(std::make_shared<MainGainTuneModel>(0, table.mainGain, 0));
}

namespace {
std::shared_ptr<PredefinedInputProfile> profileFor(const DeviceInputDescriptionRef& device, const std::string& name) {
  return std::make_shared<PredefinedInputProfile>(tarn::stableHash(device->displayName()), name, device);
}
}  // namespace

std::vector<InputProfileRef> PredefinedInputProfile::buildPredefinedProfiles() {
  std::vector<InputProfileRef> list;
  for (const auto& port : AVAudioSession::sharedInstance().availableInputs()) {
    if (port->portType() != AVAudioSessionPortBuiltInMic) continue;
    if (port->dataSources().empty()) {
      auto device = std::make_shared<DeviceInputDescription>(port->UID(), port->portName(), port->portType());
      list.push_back(profileFor(device, device->displayName()));
      continue;
    }
    for (const auto& source : port->dataSources()) {
      const std::string orientation = source->orientation();
      auto device = std::make_shared<DeviceInputDescription>(
          port->UID(), port->portName(), port->portType(), source->dataSourceName(), source->dataSourceID(),
          orientation.empty() ? std::nullopt : std::optional<std::string>(orientation));
      device->setInputDeviceConnected(true);
      auto profile = profileFor(device, device->displayName());
      if (orientation == AVAudioSessionOrientationBack) profile->applyTable(builtInBackTable());
      else if (orientation == AVAudioSessionOrientationFront) profile->applyTable(builtInFrontTable());
      else profile->applyTable(builtInOtherTable());
      list.push_back(profile);
    }
  }
  struct Headset {
    const char* portId;
    const char* name;
    const Table& table;
  };
  const Headset headsets[] = {{"FakeIdAirPodsMax", "AirPods Max", airPodsMaxAndProTable()},
                              {"FakeIdAirPodsPro", "AirPods Pro", airPodsMaxAndProTable()},
                              {"FakeIdAirPods", "AirPods", airPodsTable()}};
  for (const auto& h : headsets) {
    auto device = std::make_shared<FakeDeviceInputDescription>(h.portId, h.name, AVAudioSessionPortBluetoothHFP);
    auto profile = profileFor(device, h.name);
    profile->applyTable(h.table);
    list.push_back(profile);
  }
  return list;
}
