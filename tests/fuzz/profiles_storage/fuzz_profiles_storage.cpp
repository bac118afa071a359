// The user's stored profiles ("profilesStorage" in the standard user defaults) as a damaged disk,
// another program or an older version might have left them. The profile service reads them at
// launch within the archive's limits; an archive it cannot read counts as no profiles, a profile it
// cannot read costs only itself, and in both cases the stored bytes are copied aside before the
// next write, byte for byte. What it can read must archive again and read back the same, and every
// profile must give its calibration values and names.
#include <cstdlib>

#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/NSUserDefaults.h"
#include "profiles/InputProfilesService.h"
#include "profiles/InputProfilesStorage.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::privateHome();
  // No audio server is asked for inputs: the predefined profiles come from no ports.
  AVAudioSession::sharedInstance().setPortsForTesting(std::vector<AVAudioSessionPortDescriptionRef>{});
  const Bytes stored(data, data + size);
  auto defaults = NSUserDefaults::standardUserDefaults();
  defaults->removeObjectForKey(InputProfilesService::kBackupKey);
  defaults->setObject(value::data(stored), InputProfilesService::kStorageKey);
  InputProfilesService::resetForTesting();
  auto& service = InputProfilesService::sharedService();

  const auto profiles = service.profiles();
  if (service.unreadableArchiveReason() && !profiles.empty()) std::abort();
  for (const auto& reason : service.skippedProfileReasons())
    if (reason.empty()) fuzzsupport::broken("a profile left out without a reason");
  const bool keptAside = service.unreadableArchiveReason() || !service.skippedProfileReasons().empty();
  for (const auto& p : profiles) {
    (void)p->calibrationValues();
    (void)p->matchesCalibrationValues(p->calibrationValues());
    if (p->inputDevice()) {
      (void)p->inputDevice()->displayName();
      (void)p->inputDevice()->shortTitle();
      (void)p->inputDevice()->inputDeviceConnected();
    }
  }
  if (!profiles.empty()) {
    (void)service.profilesForInputs({profiles.front()->inputDevice()});
    // What was read archives again and reads back the same.
    NSErrorRef error;
    auto again = InputProfilesStorage::archiveProfiles(profiles, &error);
    if (!again) std::abort();
    auto back = InputProfilesStorage::unarchiveProfiles(*again, &error);
    if (!back || back->size() != profiles.size()) std::abort();
    for (size_t i = 0; i < profiles.size(); ++i) {
      if ((*back)[i]->calibrationValues() != profiles[i]->calibrationValues()) std::abort();
      if ((*back)[i]->displayName() != profiles[i]->displayName()) std::abort();
    }
  }
  // The next write keeps an unreadable value aside, unchanged.
  service.addProfile(std::make_shared<InputProfile>(
      1, "fuzz", std::make_shared<DeviceInputDescription>("id", "name", AVAudioSessionPortUSBAudio)));
  if (keptAside) {
    auto kept = defaults->objectForKey(InputProfilesService::kBackupKey);
    if (!kept || value::dataBytes(*kept) != stored) std::abort();
  }
  InputProfilesService::resetForTesting();
  return 0;
}
