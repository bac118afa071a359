#include "profiles/InputProfilesService.h"

#include <cmath>
#include <mutex>

#include "analysis/SpectrumWrapper.h"
#include "analysis/vlxSpectrum.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIWindow.h"
#include "profiles/DeviceInputsService.h"
#include "profiles/InputProfilesStorage.h"
#include "profiles/PredefinedInputProfile.h"
#include "profiles/ProfilesSupport.h"

// ---- Enable sources ----

const char* ProfileEnableSourceRawValue(ProfileEnableSource source) {
  switch (source) {
    case ProfileEnableSource::initial: return "initial";
    case ProfileEnableSource::newDevicePopup: return "popup";
    case ProfileEnableSource::routeDisconnect: return "on_route_disconnect";
    case ProfileEnableSource::selectedFromTable: return "selected_by_user.from_table";
    case ProfileEnableSource::profileSetupSave: return "mic_profile_setup.save";
    case ProfileEnableSource::profileSetup: return "mic_profile_setup";
    case ProfileEnableSource::profileSetupDisappear: return "mic_profile_setup.disappear";
  }
  return "";
}

std::optional<ProfileEnableSource> ProfileEnableSourceFromRawValue(const std::string& raw) {
  for (auto s : {ProfileEnableSource::initial, ProfileEnableSource::newDevicePopup, ProfileEnableSource::routeDisconnect,
                 ProfileEnableSource::selectedFromTable, ProfileEnableSource::profileSetupSave,
                 ProfileEnableSource::profileSetup, ProfileEnableSource::profileSetupDisappear}) {
    if (raw == ProfileEnableSourceRawValue(s)) return s;
  }
  return std::nullopt;
}

// ---- The service ----

namespace {

std::mutex& instanceMutex() {
  static auto* m = new std::mutex();
  return *m;
}
std::unique_ptr<InputProfilesService>& instance() {
  static auto* s = new std::unique_ptr<InputProfilesService>();
  return *s;
}

std::shared_ptr<NSUserDefaults> defaults() { return NSUserDefaults::standardUserDefaults(); }

// The failure reason of an error, else its description.
std::string reasonOf(const NSErrorRef& error) {
  if (!error) return "unknown reason";
  const Value& info = error->userInfo();
  if (info.is_object()) {
    auto it = info.find(NSLocalizedFailureReasonErrorKey);
    if (it != info.end() && it->is_string()) return it->get<std::string>();
  }
  return error->localizedDescription();
}

}  // namespace

InputProfilesService& InputProfilesService::sharedService() {
  std::lock_guard<std::mutex> lock(instanceMutex());
  if (!instance()) instance() = std::make_unique<InputProfilesService>();
  return *instance();
}

void InputProfilesService::resetForTesting() {
  std::unique_ptr<InputProfilesService> old;
  std::lock_guard<std::mutex> lock(instanceMutex());
  old.swap(instance());
}

InputProfilesService::InputProfilesService() { load(); }

void InputProfilesService::load() {
  profiles_.clear();
  auto stored = defaults()->objectForKey(kStorageKey);
  if (!stored) return;
  NSErrorRef error;
  std::optional<std::vector<InputProfileRef>> profiles;
  if (value::isData(*stored)) {
    profiles = InputProfilesStorage::unarchiveProfiles(value::dataBytes(*stored), &error, &skippedReasons_);
  }
  if (profiles && skippedReasons_.empty()) {
    profiles_ = std::move(*profiles);
    return;
  }
  // What cannot be read is kept as it was stored, to be copied aside before it is written over.
  unreadableStored_ = *stored;
  if (profiles) {
    profiles_ = std::move(*profiles);
    std::string reasons;
    for (const auto& reason : skippedReasons_) reasons += (reasons.empty() ? "" : "; ") + reason;
    NSLog("%zu of the stored input profiles cannot be read (%s); the other %zu are read. The stored value is kept "
          "and copied aside before the profiles are next written.",
          skippedReasons_.size(), reasons.c_str(), profiles_.size());
    return;
  }
  unreadableReason_ = value::isData(*stored) ? reasonOf(error) : "The stored value is not data.";
  NSLog("The stored input profiles cannot be read (%s); starting with none. The stored value is kept and copied "
        "aside before the profiles are next written.",
        unreadableReason_->c_str());
}

// Copies the value that could not be read under the first free backup key, once.
void InputProfilesService::keepUnreadableArchive() {
  if (!unreadableStored_) return;
  auto store = defaults();
  std::string key = kBackupKey;
  for (int n = 2; store->objectForKey(key) && n < 1000; ++n) key = std::string(kBackupKey) + "." + std::to_string(n);
  store->setObject(*unreadableStored_, key);
  NSLog("The unreadable input profiles are kept under \"%s\" before \"%s\" is written again", key.c_str(), kStorageKey);
  unreadableStored_.reset();
}

void InputProfilesService::writeArchive() {
  keepUnreadableArchive();
  NSErrorRef error;
  auto data = InputProfilesStorage::archiveProfiles(profiles_, &error);
  if (!data) {
    NSLog("The input profiles were not stored: %s", reasonOf(error).c_str());
    return;
  }
  auto store = defaults();
  store->setObject(value::data(*data), kStorageKey);
  if (!store->synchronize()) NSLog("The input profiles were not written to disk: the user defaults could not be saved");
}

const std::vector<InputProfileRef>& InputProfilesService::internalPredefinedProfiles() {
  if (!internalPredefinedProfiles_) internalPredefinedProfiles_ = PredefinedInputProfile::buildPredefinedProfiles();
  return *internalPredefinedProfiles_;
}

InputProfileRef InputProfilesService::currentProfile() {
  auto device = DeviceInputsService::sharedService().currentDevice();
  if (!device || !selectedProfileId_) return nullptr;
  auto chart = SpectrumWrapper::spectrumObject();
  std::optional<Value> calibration = chart ? chart->currentCalibrationValues() : std::nullopt;
  std::vector<InputProfileRef> all = profiles_;
  const auto& predefined = internalPredefinedProfiles();
  all.insert(all.end(), predefined.begin(), predefined.end());
  for (const auto& profile : all) {
    if (profile->profileId() != *selectedProfileId_) continue;
    if (!profile->inputDevice() || !profile->inputDevice()->isEqual(device)) continue;
    if (!calibration || !profile->matchesCalibrationValues(*calibration)) continue;
    return profile;
  }
  return nullptr;
}

std::vector<InputProfileRef> InputProfilesService::userDefinedProfiles() {
  const auto& connected = DeviceInputsService::sharedService().connectedExternalInputs();
  for (const auto& profile : profiles_) {
    for (const auto& input : connected) {
      if (profile->inputDevice() && input->portId() == profile->inputDevice()->portId()) {
        profile->inputDevice()->setInputDeviceConnected(true);
      }
    }
  }
  return profiles_;
}

InputProfileRef InputProfilesService::defaultConnectedProfile() {
  auto bottom = DeviceInputsService::sharedService().builtInBottomInput();
  if (!bottom) return nullptr;
  for (const auto& profile : internalPredefinedProfiles()) {
    if (profile->inputDevice() && profile->inputDevice()->portId() == bottom->portId()) return profile;
  }
  return nullptr;
}

void InputProfilesService::addProfile(const InputProfileRef& profile) {
  if (!profile) return;
  profiles_.push_back(profile);
  writeArchive();
}

void InputProfilesService::removeProfile(const InputProfileRef& profile) {
  auto it = std::find(profiles_.begin(), profiles_.end(), profile);
  if (!profile || it == profiles_.end()) return;
  profiles_.erase(it);
  writeArchive();
}

void InputProfilesService::saveProfile(const InputProfileRef& profile) {
  if (!profile) return;
  for (auto it = profiles_.begin(); it != profiles_.end(); ++it) {
    if ((*it)->profileId() == profile->profileId()) {
      profiles_.erase(it);
      break;
    }
  }
  profiles_.push_back(profile);
  writeArchive();
}

bool InputProfilesService::enableProfile(const InputProfileRef& profile, const std::string& sourceString) {
  if (!profile) return true;
  (void)ProfileEnableSourceFromRawValue(sourceString);  // every source enables alike
  selectedProfileId_ = profile->profileId();
  if (auto chart = SpectrumWrapper::spectrumObject()) chart->setLinearCalibrationValues(profile->calibrationValues());
  if (auto chart = SpectrumWrapper::spectrumObject()) {
    if (const auto& gain = profile->mainGain()) {
      chart->setGlobalCalibrationCoefficient(static_cast<int32_t>(gain->fixValue()));
    } else {
      chart->resetGlobalCalibrationCoefficient();
    }
  }
  if (auto device = profile->inputDevice()) device->selectCurrentSource();
  DispatchQueue::main()->async([profile] {
    NSNotification note;
    note.name = kCurrentProfileChanged;
    note.userObjects[kNewProfileKey] = profile;
    NSNotificationCenter::defaultCenter().postNotification(note);
  });
  return true;
}

int64_t InputProfilesService::newProfileId() {
  int64_t id = static_cast<int64_t>(std::trunc(ns::timeIntervalSince1970()));
  auto taken = [&](int64_t candidate) {
    for (const auto& p : profiles_)
      if (p->profileId() == candidate) return true;
    for (const auto& p : internalPredefinedProfiles())
      if (p->profileId() == candidate) return true;
    return false;
  };
  while (taken(id)) ++id;
  return id;
}

std::vector<InputProfileRef> InputProfilesService::profilesForInputs(const std::vector<DeviceInputDescriptionRef>& inputs) {
  std::vector<InputProfileRef> all = profiles_;
  const auto& predefined = internalPredefinedProfiles();
  all.insert(all.end(), predefined.begin(), predefined.end());
  std::vector<InputProfileRef> matching;
  for (const auto& profile : all) {
    for (const auto& input : inputs) {
      if (profile->inputDevice() && profile->inputDevice()->isEqual(input)) matching.push_back(profile);
    }
  }
  return matching;
}

void InputProfilesService::createNewProfileForInputDescription(const DeviceInputDescriptionRef& input,
                                                               const UIViewControllerRef& viewController,
                                                               std::function<void(InputProfileRef)> completion) {
  if (!input) return;
  const std::string title = ns::replaceAll(tarn::localised("popup.add_profile_for"), "%@", input->displayName());
  auto alert = UIAlertController::alertControllerWithTitle(title, "", UIAlertControllerStyle::Alert);
  const std::string& type = input->portType();
  const bool nameFromInput = type == AVAudioSessionPortBluetoothHFP || type == AVAudioSessionPortBluetoothA2DP ||
                             type == AVAudioSessionPortBluetoothLE || type == AVAudioSessionPortUSBAudio;
  alert->addTextFieldWithConfigurationHandler([&](UITextField& field) {
    field.setPlaceholder(tarn::localised("popup.profile_name"));
    field.setClearButtonMode(UITextFieldViewMode::WhileEditing);
    field.setText(nameFromInput ? input->displayName() : "");
  });
  std::weak_ptr<UIAlertController> weakAlert = alert;
  alert->addAction(UIAlertAction::actionWithTitle(
      tarn::localised("popup.save"), UIAlertActionStyle::Default, [weakAlert, input, completion](UIAlertAction&) {
        auto alert = weakAlert.lock();
        std::string name = alert && !alert->textFields().empty() ? alert->textFields().front()->text() : "";
        if (name.empty()) name = input->displayName() + " " + ns::shortDateString(ns::timeIntervalSince1970());
        // A stored name is read back only up to this length: a longer one is cut, at a character.
        name = std::string(ns::prefixUTF8(ns::validUTF8(name), InputProfile::kMaxTextBytes));
        auto& service = InputProfilesService::sharedService();
        auto profile = std::make_shared<InputProfile>(service.newProfileId(), name, input);
        service.addProfile(profile);
        if (completion) completion(profile);
      }));
  alert->addAction(UIAlertAction::actionWithTitle(tarn::localised("popup.cancel"), UIAlertActionStyle::Cancel,
                                                  [completion](UIAlertAction&) {
                                                    if (completion) completion(nullptr);
                                                  }));
  alert->view()->setTintColor(tarn::namedColor("brandRed"));
  UIViewControllerRef presenter = viewController;
  if (!presenter) {
    if (auto delegate = UIApplication::sharedApplication().delegate()) {
      if (auto window = delegate->window()) presenter = window->rootViewController();
    }
  }
  if (presenter) presenter->presentViewController(alert, true);
}
