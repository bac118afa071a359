#pragma once
// The process-wide owner of input profiles: the user's own profiles (kept in the standard user
// defaults under "profilesStorage" as the archive of InputProfilesStorage), the predefined ones,
// and which profile is enabled. Enabling a profile hands its band corrections to the shared chart
// as linear calibration values and its main gain as the chart's overall gain, selects the
// profile's input in the audio session and announces the change
// ("InputProfilesService.CurrentProfileChanged", posted from the main queue with the profile under
// "newProfile"). It also makes new profiles through a naming dialog, and saves, replaces and
// removes them.
//
// Stored profiles are never lost to a damaged archive: an archive that cannot be read counts as no
// profiles, and one whose profiles cannot all be read gives the others (with a log line saying
// why); before a write replaces such an archive its bytes are copied aside under kBackupKey (or
// kBackupKey plus ".2", ".3", ... when that is taken). A write that
// fails is logged with its reason; the list in memory keeps the change.
//
// New profiles get the current time in whole seconds since 1970 as their id, moved on to the next
// value no stored or predefined profile has, so that a save never replaces another profile.
// Main thread only.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/uikit/UIViewController.h"
#include "profiles/InputProfile.h"

// Why a profile is enabled (the source string of enableProfile).
enum class ProfileEnableSource {
  initial,
  newDevicePopup,
  routeDisconnect,
  selectedFromTable,
  profileSetupSave,
  profileSetup,
  profileSetupDisappear
};
const char* ProfileEnableSourceRawValue(ProfileEnableSource source);
std::optional<ProfileEnableSource> ProfileEnableSourceFromRawValue(const std::string& raw);

class InputProfilesService {
 public:
  static constexpr const char* kCurrentProfileChanged = "InputProfilesService.CurrentProfileChanged";
  static constexpr const char* kNewProfileKey = "newProfile";
  static constexpr const char* kStorageKey = "profilesStorage";
  static constexpr const char* kBackupKey = "profilesStorage.unreadable";

  static InputProfilesService& sharedService();
  // Reads the stored profiles.
  InputProfilesService();

  std::optional<int64_t> selectedProfileId() const { return selectedProfileId_; }
  void setSelectedProfileId(std::optional<int64_t> id) { selectedProfileId_ = id; }
  // The enabled profile while its input is the current device and the shared chart still holds its
  // corrections; none otherwise.
  InputProfileRef currentProfile();
  // The predefined profiles, built on the first request.
  const std::vector<InputProfileRef>& internalPredefinedProfiles();
  void setInternalPredefinedProfiles(std::optional<std::vector<InputProfileRef>> profiles) {
    internalPredefinedProfiles_ = std::move(profiles);
  }
  // The stored profiles, their devices marked connected when a connected external input has their
  // port id.
  std::vector<InputProfileRef> userDefinedProfiles();
  // The first predefined profile of the built-in port that has a bottom-facing data source.
  InputProfileRef defaultConnectedProfile();

  void addProfile(const InputProfileRef& profile);
  // Removes that very object; does nothing (and writes nothing) when it is not stored.
  void removeProfile(const InputProfileRef& profile);
  // Replaces the first stored profile of the same id (if any) and appends the profile at the end.
  void saveProfile(const InputProfileRef& profile);

  // Makes the profile the enabled one (see the file comment); always true.
  bool enableProfile(const InputProfileRef& profile, const std::string& sourceString);
  bool enableProfile(const InputProfileRef& profile, ProfileEnableSource source) {
    return enableProfile(profile, ProfileEnableSourceRawValue(source));
  }
  // Asks for a name in an alert presented from the controller (else from the application window's
  // root controller); on Save makes, stores and hands over a new profile, on Cancel hands over none.
  void createNewProfileForInputDescription(const DeviceInputDescriptionRef& input,
                                           const UIViewControllerRef& viewController,
                                           std::function<void(InputProfileRef)> completion);
  // The profiles (stored first, then predefined) whose input equals each given input.
  std::vector<InputProfileRef> profilesForInputs(const std::vector<DeviceInputDescriptionRef>& inputs);

  const std::vector<InputProfileRef>& profiles() const { return profiles_; }
  // The id a profile made now gets.
  int64_t newProfileId();
  // Why the stored archive could not be read at start (none when it could, or there was none).
  const std::optional<std::string>& unreadableArchiveReason() const { return unreadableReason_; }
  // Why each stored profile that could not be read was left out at start, the others being read.
  const std::vector<std::string>& skippedProfileReasons() const { return skippedReasons_; }

  // Forgets the service; the next sharedService reads the stored profiles again. Tests.
  static void resetForTesting();

 private:
  void load();
  void writeArchive();
  void keepUnreadableArchive();

  std::optional<int64_t> selectedProfileId_;
  std::vector<InputProfileRef> profiles_;
  std::optional<std::vector<InputProfileRef>> internalPredefinedProfiles_;
  // The stored value that could not be read, kept until it is copied aside.
  std::optional<Value> unreadableStored_;
  std::optional<std::string> unreadableReason_;
  std::vector<std::string> skippedReasons_;
};
