#include "profiles/InputProfilesStorage.h"

#include <mutex>

#include "profiles/FakeDeviceInputDescription.h"
#include "profiles/PredefinedInputProfile.h"

namespace {

NSErrorRef unreadable(const std::string& reason) {
  return NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderReadCorruptError,
                                  Value{{NSLocalizedDescriptionKey, "The stored profiles cannot be read."},
                                        {NSLocalizedFailureReasonErrorKey, reason}});
}

}  // namespace

void InputProfilesStorage::encodeWithCoder(NSCoder& coder) const {
  std::vector<const NSCoding*> list;
  for (const auto& p : profiles_)
    if (p) list.push_back(p.get());
  coder.encodeObjectList(list, "profiles");
}

void InputProfilesStorage::registerCodingClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    InputProfile::registerCodingClasses();
    NSRegisterCodingClass(kClassName, [](NSCoder& coder) -> NSCodingRef {
      if (coder.kindForKey("profiles") != NSCoder::Kind::List) {
        coder.failWithError(unreadable("\"profiles\" is missing or is not a list."));
        return nullptr;
      }
      auto items = coder.decodeObjectList("profiles");
      if (!items) return nullptr;
      if (items->size() > kMaxProfiles) {
        coder.failWithError(unreadable("The archive holds more than " + std::to_string(kMaxProfiles) + " profiles."));
        return nullptr;
      }
      std::vector<InputProfileRef> profiles;
      for (const auto& item : *items) {
        auto profile = std::dynamic_pointer_cast<InputProfile>(item);
        if (!profile) {
          coder.failWithError(unreadable("\"profiles\" holds something other than profiles."));
          return nullptr;
        }
        profiles.push_back(std::move(profile));
      }
      return std::make_shared<InputProfilesStorage>(std::move(profiles));
    });
  });
}

std::optional<Bytes> InputProfilesStorage::archiveProfiles(const std::vector<InputProfileRef>& profiles,
                                                           NSErrorRef* error) {
  registerCodingClasses();
  InputProfilesStorage root(profiles);
  return NSKeyedArchiver::archivedDataWithRootObject(root, error);
}

std::optional<std::vector<InputProfileRef>> InputProfilesStorage::unarchiveProfiles(const Bytes& data,
                                                                                    NSErrorRef* error) {
  registerCodingClasses();
  if (data.size() > kMaxArchiveBytes) {
    if (error) *error = unreadable("The archive is larger than " + std::to_string(kMaxArchiveBytes) + " bytes.");
    return std::nullopt;
  }
  static const std::set<std::string> allowed{kClassName,
                                             InputProfile::kClassName,
                                             PredefinedInputProfile::kClassName,
                                             SoundTuneBandModel::kClassName,
                                             MainGainTuneModel::kClassName,
                                             DeviceInputDescription::kClassName,
                                             FakeDeviceInputDescription::kClassName};
  NSErrorRef decodeError;
  auto root = NSKeyedUnarchiver::unarchivedObjectOfClasses(allowed, data, &decodeError);
  if (!root) {
    if (error) *error = decodeError ? decodeError : unreadable("The data is not a keyed archive.");
    return std::nullopt;
  }
  auto storage = std::dynamic_pointer_cast<InputProfilesStorage>(root);
  if (!storage) {
    if (error) *error = unreadable("The archive's root is a \"" + root->className() + "\", not the profile storage.");
    return std::nullopt;
  }
  return storage->profiles();
}
