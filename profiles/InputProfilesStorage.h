#pragma once
// The root of the profile archive: the user's profiles, in order. The archive is the keyed archive
// (NSKeyedArchiver.h) of one "Tarn.InputProfilesStorage" object with the key "profiles" (a
// required list of profiles); see InputProfile.h for what a profile holds.
//
// Reading bytes from the user defaults is reading foreign bytes, within these limits: at most
// kMaxArchiveBytes of archive, at most kMaxProfiles profiles (and, per profile, the band and text
// limits of InputProfile, SoundTuneBandModel and DeviceInputDescription), nesting as the keyed
// unarchiver allows. Bytes beyond a limit, bytes that are not a keyed archive, an archive whose
// root is another class, and an archive with one damaged profile all count as unreadable as a
// whole: the caller gets none and an error saying why.
#include <cstddef>
#include <optional>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "profiles/InputProfile.h"

class InputProfilesStorage : public NSCoding {
 public:
  static constexpr const char* kClassName = "Tarn.InputProfilesStorage";
  static constexpr size_t kMaxArchiveBytes = 4 << 20;
  static constexpr size_t kMaxProfiles = 1000;

  explicit InputProfilesStorage(std::vector<InputProfileRef> profiles) : profiles_(std::move(profiles)) {}
  const std::vector<InputProfileRef>& profiles() const { return profiles_; }
  void setProfiles(std::vector<InputProfileRef> profiles) { profiles_ = std::move(profiles); }

  std::string className() const override { return kClassName; }
  void encodeWithCoder(NSCoder& coder) const override;

  // The archive of the profiles; none with the archiver's error when they cannot be archived.
  static std::optional<Bytes> archiveProfiles(const std::vector<InputProfileRef>& profiles, NSErrorRef* error);
  // The profiles of an archive; none with an error when it is unreadable (see above).
  static std::optional<std::vector<InputProfileRef>> unarchiveProfiles(const Bytes& data, NSErrorRef* error);

  // Registers the decoders of every class the archive may hold (once; safe to call again).
  static void registerCodingClasses();

 private:
  std::vector<InputProfileRef> profiles_;
};
