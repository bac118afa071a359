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

std::string reasonOf(const NSErrorRef& error) {
  if (!error) return "unknown reason";
  return error->localizedFailureReason().value_or(error->localizedDescription());
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
      std::vector<NSErrorRef> damaged;
      auto items = coder.decodeObjectListSkippingDamaged("profiles", &damaged);
      if (!items) return nullptr;
      if (items->size() + damaged.size() > kMaxProfiles) {
        coder.failWithError(unreadable("The archive holds more than " + std::to_string(kMaxProfiles) + " profiles."));
        return nullptr;
      }
      std::vector<InputProfileRef> profiles;
      std::vector<std::string> skipped;
      for (const auto& error : damaged) skipped.push_back(reasonOf(error));
      for (const auto& item : *items) {
        if (auto profile = std::dynamic_pointer_cast<InputProfile>(item))
          profiles.push_back(std::move(profile));
        else
          skipped.push_back("\"profiles\" holds a \"" + item->className() + "\", not a profile.");
      }
      auto storage = std::make_shared<InputProfilesStorage>(std::move(profiles));
      storage->skipped_ = std::move(skipped);
      return storage;
    });
  });
}

std::optional<Bytes> InputProfilesStorage::archiveProfiles(const std::vector<InputProfileRef>& profiles,
                                                           NSErrorRef* error) {
  registerCodingClasses();
  InputProfilesStorage root(profiles);
  auto data = NSKeyedArchiver::archivedDataWithRootObject(root, error);
  if (!data) return std::nullopt;
  // An archive that would not read back whole (a text or a list beyond the reader's limits) is
  // not handed out to be stored: the next launch would lose what it could not read.
  NSErrorRef readError;
  std::vector<std::string> skipped;
  auto back = unarchiveProfiles(*data, &readError, &skipped);
  std::string why;
  if (!back) why = reasonOf(readError);
  else if (!skipped.empty()) why = skipped.front();
  else if (back->size() != root.profiles().size()) why = "Not every profile was archived.";
  if (why.empty()) return data;
  if (error) {
    *error = NSError::errorWithDomain(
        NSCocoaErrorDomain, NSCoderInvalidValueError,
        Value{{NSLocalizedDescriptionKey, "The profiles cannot be stored."},
              {NSLocalizedFailureReasonErrorKey, "They would not read back: " + why}});
  }
  return std::nullopt;
}

std::optional<std::vector<InputProfileRef>> InputProfilesStorage::unarchiveProfiles(const Bytes& data,
                                                                                    NSErrorRef* error,
                                                                                    std::vector<std::string>* skipped) {
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
  if (skipped) *skipped = storage->skippedReasons();
  return storage->profiles();
}
