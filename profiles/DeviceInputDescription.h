#pragma once
// One audio input that the analyser can measure with: a port of the audio session and, where the
// port offers several, one of its data sources (a built-in microphone facing front, back or
// bottom). Every input profile belongs to one description; the lists, the new-input popup and the
// current-input bar show its names and logo; enabling a profile routes the session's input to it
// (selectCurrentSource).
//
// Descriptions are plain shared objects compared with isEqual (never by identity). They are
// archived inside the profile archive under the class name "Tarn.DeviceInputDescription" with the
// keys "portId" (a required string of at most kMaxPortIdBytes), "portName", "portType" (required
// strings of at most kMaxTextBytes each), "dataSourceName", "dataSourceOrientation" (optional
// strings, as long) and "dataSourceId" (an optional integer); an optional value of another type
// reads as none, a required one missing or of another type makes the profile that holds it
// unreadable. Main thread only.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/graphics/UIImage.h"

class DeviceInputDescription;
using DeviceInputDescriptionRef = std::shared_ptr<DeviceInputDescription>;

class DeviceInputDescription : public NSCoding, public std::enable_shared_from_this<DeviceInputDescription> {
 public:
  static constexpr const char* kClassName = "Tarn.DeviceInputDescription";
  // The longest text a decoded description may hold in one field (UTF-8 bytes): room for any name
  // of an audio-session port, which are cut to kAVAudioSessionMaxPortNameBytes where they come in.
  static constexpr size_t kMaxTextBytes = 1024;
  // The longest port id: any UID of an audio-session port (a file input's holds its path).
  static constexpr size_t kMaxPortIdBytes = kAVAudioSessionMaxPortUIDBytes;

  // The designated initialiser; the connected marker starts false.
  DeviceInputDescription(std::string portId, std::string portName, std::string portType,
                         std::optional<std::string> dataSourceName = std::nullopt,
                         std::optional<int64_t> dataSourceId = std::nullopt,
                         std::optional<std::string> dataSourceOrientation = std::nullopt);
  // The initialiser from a port: its preferred data source, else its selected one, else none.
  static DeviceInputDescriptionRef withPort(const AVAudioSessionPortDescription& port);

  const std::string& portId() const { return portId_; }
  void setPortId(std::string id) { portId_ = std::move(id); }
  // Whether the input is connected now, by the connected rule (built-in: always; Bluetooth: the
  // marker and the last Bluetooth input of the device inputs service; others: the marker).
  virtual bool inputDeviceConnected() const;
  void setInputDeviceConnected(bool connected) { connectedMarker_ = connected; }
  bool connectedMarker() const { return connectedMarker_; }

  // What the current-input bar shows: the data source's name, a headset model's name, or the
  // localised "external microphone" text.
  std::string shortTitle() const;
  // The name shown in lists: the port name, with the data source in parentheses (and the localised
  // built-in prefix, without "iPhone ", for built-in microphones).
  std::string displayName() const;
  // Like displayName, with the orientation in place of the built-in prefix, port and data source.
  std::string orientationDisplayName() const;

  const std::string& portName() const { return portName_; }
  void setPortName(std::string name) { portName_ = std::move(name); }
  const std::optional<std::string>& dataSourceName() const { return dataSourceName_; }
  void setDataSourceName(std::optional<std::string> name) { dataSourceName_ = std::move(name); }
  const std::optional<std::string>& dataSourceOrientation() const { return dataSourceOrientation_; }
  void setDataSourceOrientation(std::optional<std::string> o) { dataSourceOrientation_ = std::move(o); }
  const std::string& portType() const { return portType_; }
  void setPortType(std::string type) { portType_ = std::move(type); }
  const std::optional<int64_t>& dataSourceId() const { return dataSourceId_; }
  void setDataSourceId(std::optional<int64_t> id) { dataSourceId_ = id; }

  // Headset models, told apart by a Bluetooth hands-free port's lower-cased name.
  bool isAirpodsMax() const;
  bool isAnyAirpods() const;
  bool isAirpodsPro() const;
  bool isAirpods() const;

  // Routes the audio session's input (and data source) to this description.
  virtual void selectCurrentSource();

  // Same port id, or a fake of the same lower-cased name. Not symmetric with fakes.
  virtual bool isEqual(const DeviceInputDescription* other) const;
  bool isEqual(const DeviceInputDescriptionRef& other) const { return isEqual(other.get()); }
  // A hash of the port id, the same in every run.
  int64_t hash() const;

  // The logo image as a template (it takes the tint of the view that shows it); none when the
  // bundle has no image of the name.
  UIImageRef inputLogoImage() const;
  // The name of that image.
  std::string inputLogoImageName() const;

  // Archiving.
  std::string className() const override { return kClassName; }
  void encodeWithCoder(NSCoder& coder) const override;
  // Registers the decoders of this class and of FakeDeviceInputDescription.
  static void registerCodingClasses();

  virtual bool isFake() const { return false; }

 protected:
  // Reads the fields shared by both classes; false (after coder.failWithError) when a required
  // one is missing or invalid.
  struct Fields {
    std::string portId, portName, portType;
    std::optional<std::string> dataSourceName, dataSourceOrientation;
    std::optional<int64_t> dataSourceId;
  };
  static std::optional<Fields> decodeFields(NSCoder& coder);

 private:
  std::string portId_;
  bool connectedMarker_ = false;
  std::string portName_;
  std::optional<std::string> dataSourceName_;
  std::optional<std::string> dataSourceOrientation_;
  std::string portType_;
  std::optional<int64_t> dataSourceId_;
};
