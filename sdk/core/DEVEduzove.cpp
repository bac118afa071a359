#include "sdk/core/DEVEduzove.h"

#include <plist/plist.h>

#include <fstream>
#include <sstream>

#include "platform/foundation/NSBundle.h"

namespace {

NSErrorRef optionsError(const std::string& reason) {
  return NSError::errorWithDomain("com.zirezize.core", -1,
                                  Value{{NSLocalizedDescriptionKey, reason}});
}

// The string values of a property-list dictionary's top level; other kinds are skipped.
Value stringsOfDictionary(plist_t dict) {
  Value out = Value::object();
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(dict, &iter);
  if (!iter) return out;
  for (;;) {
    char* key = nullptr;
    plist_t item = nullptr;
    plist_dict_next_item(dict, iter, &key, &item);
    if (!key) break;
    if (item && plist_get_node_type(item) == PLIST_STRING) {
      char* text = nullptr;
      plist_get_string_val(item, &text);
      if (text) out[key] = std::string(text);
      free(text);
    } else if (item && plist_get_node_type(item) == PLIST_BOOLEAN) {
      uint8_t b = 0;
      plist_get_bool_val(item, &b);
      out[key] = b != 0;
    }
    free(key);
  }
  free(iter);
  return out;
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
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = optionsError("The service-info property list cannot be read: " + path);
    return nullptr;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  std::string bytes = buffer.str();
  if (bytes.empty()) {
    if (error) *error = optionsError("The service-info property list is empty: " + path);
    return nullptr;
  }
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  if (!root) {
    if (error) *error = optionsError("The service-info property list is not a valid property list: " + path);
    return nullptr;
  }
  if (plist_get_node_type(root) != PLIST_DICT) {
    plist_free(root);
    if (error) *error = optionsError("The service-info property list is not a dictionary: " + path);
    return nullptr;
  }
  Value dict = stringsOfDictionary(root);
  plist_free(root);
  return std::make_shared<const DEVEduzove>(fromDictionary(dict));
}

DEVEduzoveRef DEVEduzove::defaultOptions(NSErrorRef* error) {
  auto path = NSBundle::mainBundle().pathForResource(kZIRServiceInfoFileName, kZIRServiceInfoFileType);
  if (!path) {
    if (error) *error = optionsError("The main bundle has no service-info property list.");
    return nullptr;
  }
  return optionsWithContentsOfFile(*path, error);
}
