#include "profiles/DeviceInputsService.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>

#include "overlays/StatusOverlay.h"
#include "platform/dispatch/Dispatch.h"
#include "profiles/AutomaticProfileLogic.h"
#include "profiles/InputProfilesService.h"
#include "profiles/ProfilesSupport.h"

namespace {

std::unique_ptr<DeviceInputsService>& instance() {
  static auto* s = new std::unique_ptr<DeviceInputsService>();
  return *s;
}

bool isType(const AVAudioSessionPortDescriptionRef& port, std::initializer_list<const char*> types) {
  for (const char* t : types)
    if (port->portType() == t) return true;
  return false;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

void printLine(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace

static std::mutex& instanceMutex() {
  static auto* m = new std::mutex();
  return *m;
}

DeviceInputsService& DeviceInputsService::sharedService() {
  std::lock_guard<std::mutex> lock(instanceMutex());
  if (!instance()) instance() = std::make_unique<DeviceInputsService>();
  return *instance();
}

void DeviceInputsService::resetForTesting() {
  std::unique_ptr<DeviceInputsService> old;
  {
    std::lock_guard<std::mutex> lock(instanceMutex());
    old.swap(instance());
  }
}

DeviceInputsService::DeviceInputsService() {
  if constexpr (kAutomaticProfileLogicEnabled) {
    // Delivered on the main queue, whatever thread the session posts from; the service lives for
    // the process, and the token ends the observation if a test replaces it.
    routeObserver_ = NSNotificationCenter::defaultCenter().addObserverForName(
        AVAudioSessionRouteChangeNotification, nullptr, DispatchQueue::main(),
        [](const NSNotification& n) { DeviceInputsService::sharedService().audioRouteDidChange(n); });
  }
}

DeviceInputsService::~DeviceInputsService() = default;

void DeviceInputsService::overrideInput(const AVAudioSessionPortDescriptionRef& port) {
  if (!port) return;
  printLine("override input to " + port->portName());
  NSErrorRef error;
  if (AVAudioSession::sharedInstance().setPreferredInput(port, &error)) {
    currentDevice_ = DeviceInputDescription::withPort(*port);
  } else {
    printLine(error ? error->localizedDescription() : "the input was not taken");
  }
}

void DeviceInputsService::updateExternalInputs() {
  std::vector<DeviceInputDescriptionRef> inputs;
  for (const auto& port : AVAudioSession::sharedInstance().availableInputs()) {
    if (isType(port, {AVAudioSessionPortBluetoothLE, AVAudioSessionPortHeadsetMic, AVAudioSessionPortBluetoothHFP,
                      AVAudioSessionPortUSBAudio})) {
      inputs.push_back(DeviceInputDescription::withPort(*port));
    }
  }
  connectedExternalInputs_ = std::move(inputs);
}

std::vector<DeviceInputDescriptionRef> DeviceInputsService::builtInInputs() {
  std::vector<DeviceInputDescriptionRef> inputs;
  for (const auto& port : AVAudioSession::sharedInstance().availableInputs()) {
    if (port->portType() == AVAudioSessionPortBuiltInMic) inputs.push_back(DeviceInputDescription::withPort(*port));
  }
  return inputs;
}

DeviceInputDescriptionRef DeviceInputsService::builtInBottomInput() {
  for (const auto& port : AVAudioSession::sharedInstance().availableInputs()) {
    if (port->portType() != AVAudioSessionPortBuiltInMic) continue;
    for (const auto& source : port->dataSources()) {
      if (source->orientation() == AVAudioSessionOrientationBottom) return DeviceInputDescription::withPort(*port);
    }
  }
  return nullptr;
}

std::vector<DeviceInputDescriptionRef> DeviceInputsService::selectableExternalInputs() {
  std::vector<DeviceInputDescriptionRef> inputs;
  for (const auto& port : AVAudioSession::sharedInstance().availableInputs()) {
    bool keep = isType(port, {AVAudioSessionPortHeadsetMic, AVAudioSessionPortUSBAudio});
    if (isType(port, {AVAudioSessionPortBluetoothLE, AVAudioSessionPortBluetoothA2DP, AVAudioSessionPortBluetoothHFP})) {
      keep = lower(port->portName()).find("airpods") == std::string::npos;
    }
    if (!keep) continue;
    if (port->dataSources().empty()) {
      inputs.push_back(std::make_shared<DeviceInputDescription>(port->UID(), port->portName(), port->portType()));
      continue;
    }
    for (const auto& source : port->dataSources()) {
      inputs.push_back(std::make_shared<DeviceInputDescription>(
          port->UID(), port->portName(), port->portType(), source->dataSourceName(), source->dataSourceID(),
          source->orientation().empty() ? std::nullopt : std::optional<std::string>(source->orientation())));
    }
  }
  return inputs;
}

bool DeviceInputsService::checkCurrentInputsForExternalMic() {
  if constexpr (!kAutomaticProfileLogicEnabled) return false;
  if (connectedExternalInputs_.empty()) return false;
  auto input = connectedExternalInputs_.back();
  DispatchQueue::main()->async([input] {
    NSNotification n;
    n.name = kNewExternalInput;
    n.userObjects[kExternalInputKey] = input;
    NSNotificationCenter::defaultCenter().postNotification(n);
  });
  return true;
}

void DeviceInputsService::handleRouteChange(const NSNotification& notification) {
  std::optional<int64_t> reason;
  if (notification.userInfo.is_object()) {
    auto it = notification.userInfo.find(AVAudioSessionRouteChangeReasonKey);
    if (it != notification.userInfo.end() && it->is_number_integer()) reason = it->get<int64_t>();
  }
  auto& session = AVAudioSession::sharedInstance();
  const auto route = session.currentRoute();
  const AVAudioSessionPortDescriptionRef input = route.inputs.empty() ? nullptr : route.inputs.front();
  updateExternalInputs();
  // The input in use is the current device already (by name and type, which a device with a data
  // source never matches: its name carries the source).
  auto sameAsCurrent = [&] {
    return input && currentDevice_ && input->portName() == currentDevice_->displayName() &&
           input->portType() == currentDevice_->portType();
  };
  switch (reason.value_or(-1)) {
    case AVAudioSessionRouteChangeReasonUnknown: printLine("unknown"); break;
    case AVAudioSessionRouteChangeReasonNewDeviceAvailable:
      printLine("headphone plugged in");
      checkCurrentInputsForExternalMic();
      break;
    case AVAudioSessionRouteChangeReasonOldDeviceUnavailable:
      if (auto profile = InputProfilesService::sharedService().defaultConnectedProfile()) {
        InputProfilesService::sharedService().enableProfile(profile, "on_route_disconnect");
        StatusOverlay::showInfoWithStatus(tarn::localised("mic_profile.default_enabled"));
      }
      printLine("headphone pulled out");
      break;
    case AVAudioSessionRouteChangeReasonCategoryChange:
      if (input && currentDevice_ && !sameAsCurrent()) {
        auto device = currentDevice_;  // selecting replaces currentDevice_
        device->selectCurrentSource();
      }
      printLine("categoryChange");
      break;
    case AVAudioSessionRouteChangeReasonOverride:
      (void)sameAsCurrent();
      printLine("override");
      break;
    case AVAudioSessionRouteChangeReasonWakeFromSleep: printLine("wakeFromSleep"); break;
    case AVAudioSessionRouteChangeReasonNoSuitableRouteForCategory: printLine("noSuitableRouteForCategory"); break;
    case AVAudioSessionRouteChangeReasonRouteConfigurationChange: printLine("routeConfigurationChange"); break;
    default: printLine("default"); break;
  }
}
