#include "profiles/DeviceInputDescription.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "profiles/DeviceInputsService.h"
#include "profiles/FakeDeviceInputDescription.h"
#include "profiles/ProfilesSupport.h"

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// Every "iPhone " (with its blank, case-sensitive) taken out of the text.
std::string withoutPhoneWord(std::string text) {
  static const std::string word = "iPhone ";
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at)) text.erase(at, word.size());
  return text;
}

bool isBluetooth(const std::string& type) {
  return type == AVAudioSessionPortBluetoothA2DP || type == AVAudioSessionPortBluetoothHFP ||
         type == AVAudioSessionPortBluetoothLE;
}

}  // namespace

DeviceInputDescription::DeviceInputDescription(std::string portId, std::string portName, std::string portType,
                                               std::optional<std::string> dataSourceName,
                                               std::optional<int64_t> dataSourceId,
                                               std::optional<std::string> dataSourceOrientation)
    : portId_(std::move(portId)),
      portName_(std::move(portName)),
      dataSourceName_(std::move(dataSourceName)),
      dataSourceOrientation_(std::move(dataSourceOrientation)),
      portType_(std::move(portType)),
      dataSourceId_(dataSourceId) {}

namespace {
template <class T>
std::shared_ptr<T> fromPort(const AVAudioSessionPortDescription& port) {
  auto source = port.preferredDataSource();
  if (!source) source = port.selectedDataSource();
  if (source) {
    return std::make_shared<T>(port.UID(), port.portName(), port.portType(), source->dataSourceName(),
                               source->dataSourceID(),
                               source->orientation().empty() ? std::nullopt : std::optional<std::string>(source->orientation()));
  }
  return std::make_shared<T>(port.UID(), port.portName(), port.portType());
}
}  // namespace

DeviceInputDescriptionRef DeviceInputDescription::withPort(const AVAudioSessionPortDescription& port) {
  return fromPort<DeviceInputDescription>(port);
}

std::shared_ptr<FakeDeviceInputDescription> FakeDeviceInputDescription::withPort(const AVAudioSessionPortDescription& port) {
  return fromPort<FakeDeviceInputDescription>(port);
}

// ---- Connected rules ----

bool DeviceInputDescription::inputDeviceConnected() const {
  if (portType_ == AVAudioSessionPortBuiltInMic) return true;
  if (isBluetooth(portType_)) {
    if (!connectedMarker_) return false;
    DeviceInputDescriptionRef last;
    for (const auto& input : DeviceInputsService::sharedService().connectedExternalInputs()) {
      if (isBluetooth(input->portType())) last = input;
    }
    return last && last->portId() == portId_;
  }
  return connectedMarker_;
}

bool FakeDeviceInputDescription::inputDeviceConnected() const {
  if (portType() == AVAudioSessionPortBuiltInMic) return true;
  if (portType() != AVAudioSessionPortBluetoothHFP) return connectedMarker();
  for (const auto& input : DeviceInputsService::sharedService().connectedExternalInputs()) {
    if (input->portType() == AVAudioSessionPortBluetoothHFP) return true;
  }
  return false;
}

// ---- Names ----

std::string DeviceInputDescription::displayName() const {
  if (!dataSourceName_) return portName_;
  if (portType_ == AVAudioSessionPortBuiltInMic) {
    return withoutPhoneWord(tarn::localised("microphone_setup.built_it") + " " + portName_ + " (" + *dataSourceName_ + ")");
  }
  return portName_ + " (" + *dataSourceName_ + ")";
}

std::string DeviceInputDescription::orientationDisplayName() const {
  if (!dataSourceName_) return portName_;
  if (portType_ == AVAudioSessionPortBuiltInMic) return withoutPhoneWord(dataSourceOrientation_.value_or(""));
  return portName_ + " (" + *dataSourceName_ + ")";
}

std::string DeviceInputDescription::shortTitle() const {
  if (dataSourceName_) return *dataSourceName_;
  if (isAirpodsMax()) return "Airpods Max";
  if (isAirpodsPro()) return "Airpods Pro";
  if (isAirpods()) return "Airpods";
  return tarn::localised("mic_profile.external_profile.short_description");
}

bool DeviceInputDescription::isAirpodsMax() const {
  return portType_ == AVAudioSessionPortBluetoothHFP && contains(lower(portName_), "airpods max");
}
bool DeviceInputDescription::isAirpodsPro() const {
  return portType_ == AVAudioSessionPortBluetoothHFP && contains(lower(portName_), "airpods pro");
}
bool DeviceInputDescription::isAirpods() const {
  return portType_ == AVAudioSessionPortBluetoothHFP && contains(lower(portName_), "airpods");
}
bool DeviceInputDescription::isAnyAirpods() const { return isAirpods() || isAirpodsPro() || isAirpodsMax(); }

std::string DeviceInputDescription::inputLogoImageName() const {
  if (portType_ == AVAudioSessionPortBuiltInMic) {
    if (!dataSourceOrientation_) return "frontMicLogo";
    if (*dataSourceOrientation_ == AVAudioSessionOrientationBack) return "backMicLogo";
    if (*dataSourceOrientation_ == AVAudioSessionOrientationFront) return "frontMicLogo";
    return "bottomMicLogo";
  }
  if (portType_ == AVAudioSessionPortHeadsetMic || portType_ == AVAudioSessionPortUSBAudio) return "wiredMicLogo";
  if (isAirpodsMax()) return "airpodsMaxLogo";
  if (isAirpodsPro()) return "airpodsProLogo";
  if (isAirpods()) return "airpodsLogo";
  if (portType_ == AVAudioSessionPortBluetoothA2DP || portType_ == AVAudioSessionPortBluetoothLE) return "headphonesLogo";
  return "micLogo";
}

UIImageRef DeviceInputDescription::inputLogoImage() const {
  auto image = UIImage::imageNamed(inputLogoImageName());
  return image ? image->imageWithRenderingMode(UIImageRenderingMode::AlwaysTemplate) : nullptr;
}

// ---- Routing ----

void DeviceInputDescription::selectCurrentSource() {
  auto keep = weak_from_this().lock();  // overrideInput may replace the service's reference to this
  auto& session = AVAudioSession::sharedInstance();
  const auto ports = session.availableInputs();
  if (ports.empty()) return;
  for (const auto& port : ports) {
    if (port->UID() != portId_) continue;
    for (const auto& source : port->dataSources()) {
      const bool same = dataSourceId_ && source->dataSourceID() == *dataSourceId_;
      if (!same) continue;
      NSErrorRef error;
      if (!port->setPreferredDataSource(source, &error)) {
        std::printf("%s\n", error ? error->localizedDescription().c_str() : "the data source was not selected");
      }
    }
    DeviceInputsService::sharedService().overrideInput(port);
  }
}

void FakeDeviceInputDescription::selectCurrentSource() {
  auto keep = weak_from_this().lock();
  const auto ports = AVAudioSession::sharedInstance().availableInputs();
  for (const auto& port : ports) {
    if ((portType() == AVAudioSessionPortBluetoothHFP && port->portType() == AVAudioSessionPortBluetoothHFP) ||
        port->portName() == portName()) {
      DeviceInputsService::sharedService().overrideInput(port);
      return;
    }
  }
}

// ---- Equality ----

bool DeviceInputDescription::isEqual(const DeviceInputDescription* other) const {
  if (!other) return false;
  if (other->portId() == portId_) return true;
  return other->isFake() && lower(other->portName()) == lower(portName_);
}

bool FakeDeviceInputDescription::isEqual(const DeviceInputDescription* other) const {
  if (!other) return false;
  if (portType() == AVAudioSessionPortBluetoothHFP && other->portType() == AVAudioSessionPortBluetoothHFP) return true;
  return lower(other->portName()) == lower(portName());
}

int64_t DeviceInputDescription::hash() const { return tarn::stableHash(portId_); }

// ---- Archive ----

void DeviceInputDescription::encodeWithCoder(NSCoder& coder) const {
  coder.encodeString(portId_, "portId");
  coder.encodeString(portName_, "portName");
  coder.encodeString(portType_, "portType");
  if (dataSourceName_) coder.encodeString(*dataSourceName_, "dataSourceName");
  else coder.encodeObject(nullptr, "dataSourceName");
  if (dataSourceId_) coder.encodeInteger(*dataSourceId_, "dataSourceId");
  else coder.encodeObject(nullptr, "dataSourceId");
  if (dataSourceOrientation_) coder.encodeString(*dataSourceOrientation_, "dataSourceOrientation");
  else coder.encodeObject(nullptr, "dataSourceOrientation");
}

namespace {

NSErrorRef damaged(const std::string& reason) {
  return NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderReadCorruptError,
                                  Value{{NSLocalizedDescriptionKey, "The input description in the archive is damaged."},
                                        {NSLocalizedFailureReasonErrorKey, reason}});
}

// A required text: present, a string, not longer than the limit.
std::optional<std::string> requiredText(NSCoder& coder, const char* key,
                                        size_t limit = DeviceInputDescription::kMaxTextBytes) {
  if (coder.kindForKey(key) != NSCoder::Kind::String) {
    coder.failWithError(damaged(std::string("\"") + key + "\" is missing or is not a text."));
    return std::nullopt;
  }
  auto text = coder.decodeString(key);
  if (text && text->size() > limit) {
    coder.failWithError(damaged(std::string("\"") + key + "\" is longer than an input description's texts may be."));
    return std::nullopt;
  }
  return text;
}

// An optional text: none when absent or of another type; too long a text is damage.
std::optional<std::string> optionalText(NSCoder& coder, const char* key, bool* ok) {
  if (coder.kindForKey(key) != NSCoder::Kind::String) return std::nullopt;
  auto text = coder.decodeString(key);
  if (text && text->size() > DeviceInputDescription::kMaxTextBytes) {
    coder.failWithError(damaged(std::string("\"") + key + "\" is longer than an input description's texts may be."));
    *ok = false;
    return std::nullopt;
  }
  return text;
}

}  // namespace

std::optional<DeviceInputDescription::Fields> DeviceInputDescription::decodeFields(NSCoder& coder) {
  Fields f;
  auto portId = requiredText(coder, "portId", DeviceInputDescription::kMaxPortIdBytes);
  if (!portId) return std::nullopt;
  auto portName = requiredText(coder, "portName");
  if (!portName) return std::nullopt;
  auto portType = requiredText(coder, "portType");
  if (!portType) return std::nullopt;
  f.portId = std::move(*portId);
  f.portName = std::move(*portName);
  f.portType = std::move(*portType);
  bool ok = true;
  f.dataSourceName = optionalText(coder, "dataSourceName", &ok);
  f.dataSourceOrientation = optionalText(coder, "dataSourceOrientation", &ok);
  if (!ok) return std::nullopt;
  if (coder.kindForKey("dataSourceId") == NSCoder::Kind::Integer) f.dataSourceId = coder.decodeInteger("dataSourceId");
  return f;
}

void DeviceInputDescription::registerCodingClasses() {
  NSRegisterCodingClass(kClassName, [](NSCoder& coder) -> NSCodingRef {
    auto f = decodeFields(coder);
    if (!f) return nullptr;
    return std::make_shared<DeviceInputDescription>(f->portId, f->portName, f->portType, f->dataSourceName,
                                                    f->dataSourceId, f->dataSourceOrientation);
  });
  NSRegisterCodingClass(FakeDeviceInputDescription::kClassName, [](NSCoder& coder) -> NSCodingRef {
    auto f = decodeFields(coder);
    if (!f) return nullptr;
    return std::make_shared<FakeDeviceInputDescription>(f->portId, f->portName, f->portType, f->dataSourceName,
                                                        f->dataSourceId, f->dataSourceOrientation);
  });
}
