#include "sdk/core/DEVEduzove.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/PlistValue.h"

namespace {

NSErrorRef optionsError(const std::string& reason) {
  return NSError::errorWithDomain("com.zirezize.core", -1,
                                  Value{{NSLocalizedDescriptionKey, reason}});
}

}  // namespace

DEVEduzove::DEVEduzove(std::string deruruAppID, std::string ZCMSenderID)
    : deruruAppID_(std::move(deruruAppID)), ZCMSenderID_(std::move(ZCMSenderID)) {}

DEVEduzove DEVEduzove::fromDictionary(const Value& dictionary) {
  DEVEduzove o;
  auto read = [&](const char* key) -> std::optional<std::string> {
    if (!dictionary.is_object()) return std::nullopt;
    auto it = dictionary.find(key);
    if (it == dictionary.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
  };
  o.deruruAppID_ = read(kZIRDeruruAppID);
  o.APIKey_ = read(kZIRAPIKey);
  o.projectID_ = read(kZIRProjectID);
  o.ZCMSenderID_ = read(kZIRZCMSenderID);
  o.bundleID_ = read(kZIRBundleID);
  o.databaseURL_ = read(kZIRDatabaseURL);
  return o;
}

DEVEduzoveRef DEVEduzove::optionsWithContentsOfFile(const std::string& path, NSErrorRef* error) {
  // The same guarded reading as every other property list: the size and nesting limits, our own
  // binary reader, and no text that would stop the XML parser on a NUL.
  std::string bytes;
  switch (ns::readFile(path, ns::kMaxPlistBytes, &bytes)) {
    case ns::FileRead::Read:
      break;
    case ns::FileRead::TooLarge:
      if (error) *error = optionsError("The service-info property list is too large: " + path);
      return nullptr;
    case ns::FileRead::Missing:
    case ns::FileRead::Unreadable:
      if (error) *error = optionsError("The service-info property list cannot be read: " + path);
      return nullptr;
  }
  if (bytes.empty()) {
    if (error) *error = optionsError("The service-info property list is empty: " + path);
    return nullptr;
  }
  std::string why;
  auto parsed = ns::plistParse(bytes, &why);
  if (!parsed) {
    if (error) {
      *error = optionsError("The service-info property list is not a valid property list (" + why + "): " + path);
    }
    return nullptr;
  }
  if (!parsed->is_object()) {
    if (error) *error = optionsError("The service-info property list is not a dictionary: " + path);
    return nullptr;
  }
  return std::make_shared<const DEVEduzove>(fromDictionary(*parsed));
}

DEVEduzoveRef DEVEduzove::defaultOptions(NSErrorRef* error) {
  auto path = NSBundle::mainBundle().pathForResource(kZIRServiceInfoFileName, kZIRServiceInfoFileType);
  if (!path) {
    if (error) *error = optionsError("The main bundle has no service-info property list.");
    return nullptr;
  }
  return optionsWithContentsOfFile(*path, error);
}
