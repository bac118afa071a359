#pragma once
// The root of the profile archive: the user's profiles, in order. The archive is the keyed archive
// (NSKeyedArchiver.h) of one "Tarn.InputProfilesStorage" object with the key "profiles" (a
// required list of profiles); see InputProfile.h for what a profile holds.
//
// Reading bytes from the user defaults is reading foreign bytes, within these limits: at most
// kMaxArchiveBytes of archive, at most kMaxProfiles profiles (and, per profile, the band and text
// limits of InputProfile, SoundTuneBandModel and DeviceInputDescription), nesting as the keyed
// unarchiver allows. Bytes beyond a limit, bytes that are not a keyed archive and an archive whose
// root is another class count as unreadable as a whole: the caller gets none and an error saying
// why. A damaged profile costs only itself, whether its fields hold what no profile holds or the
// bytes of its objects are damaged: it is left out, with the reason, and the others are read.
//
// What is written reads back: the archive of profiles that would not all read back within these
// limits is not made (the writer decodes what it wrote before handing it out).
#include <cstddef>
#include <optional>
#include <string>
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
  // Why each profile that could not be decoded was left out (decoding only; not archived).
  const std::vector<std::string>& skippedReasons() const { return skipped_; }

  std::string className() const override { return kClassName; }
  void encodeWithCoder(NSCoder& coder) const override;

  // The archive of the profiles; none with the archiver's error when they cannot be archived.
  static std::optional<Bytes> archiveProfiles(const std::vector<InputProfileRef>& profiles, NSErrorRef* error);
  // The profiles of an archive, without the damaged ones, whose reasons go to *skipped; none with
  // an error when the archive is unreadable (see above).
  static std::optional<std::vector<InputProfileRef>> unarchiveProfiles(const Bytes& data, NSErrorRef* error,
                                                                       std::vector<std::string>* skipped = nullptr);

  // Registers the decoders of every class the archive may hold (once; safe to call again).
  static void registerCodingClasses();

 private:
  std::vector<InputProfileRef> profiles_;
  std::vector<std::string> skipped_;
};
