#pragma once
// A known headset model that the predefined profiles offer whether or not it is connected: it
// stands for whatever Bluetooth hands-free input is present. It reads as connected while the
// device inputs service lists any Bluetooth hands-free input, it equals every Bluetooth
// hands-free description (and other fakes), and selecting it routes the session to the first
// Bluetooth hands-free port. Archived (only as part of a stored predefined profile) under the
// class name "Tarn.FakeDeviceInputDescription" with the keys of DeviceInputDescription.
#include "profiles/DeviceInputDescription.h"

class FakeDeviceInputDescription : public DeviceInputDescription {
 public:
  static constexpr const char* kClassName = "Tarn.FakeDeviceInputDescription";
  using DeviceInputDescription::DeviceInputDescription;
  static std::shared_ptr<FakeDeviceInputDescription> withPort(const AVAudioSessionPortDescription& port);

  bool inputDeviceConnected() const override;
  void selectCurrentSource() override;
  using DeviceInputDescription::isEqual;
  bool isEqual(const DeviceInputDescription* other) const override;
  std::string className() const override { return kClassName; }
  bool isFake() const override { return true; }

 private:
  friend class DeviceInputDescription;
};
