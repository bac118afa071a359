// A property-list file of in-app defaults: read as setDefaultsFromPlistFileName reads it, then kept
// as defaults the way the content keeps them (an integer as its decimal text), and read back as
// typed values.
#include "sdk/remote_config/RCNConfigContent.h"
#include "sdk/remote_config/ZIRRemoteConfig.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::privateHome();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  auto defaults = ZIRRemoteConfig::defaultsFromPlistData(std::string(fuzzsupport::asText(data, size)), &error);
  if (!defaults) return 0;
  constexpr const char* kNamespace = "zirezize:app";
  auto content = RCNConfigContent::initWithDBManager(nullptr);
  content->copyFromDictionary(Value{{kNamespace, *defaults}}, RCNDBSourceDefault, kNamespace);
  const RCNConfigLayer defaultLayer = content->defaultConfig();
  for (const auto& [key, value] : defaultLayer.at(kNamespace)) {
    // An integer's default is its decimal text, above the signed range too.
    const Value& given = defaults->at(key);
    if (given.is_number_unsigned() && value->stringValue() != std::to_string(given.get<uint64_t>()))
      fuzzsupport::broken("an unsigned default is not its decimal text");
    if (given.is_number_integer() && !given.is_number_unsigned() &&
        value->stringValue() != std::to_string(given.get<int64_t>()))
      fuzzsupport::broken("an integer default is not its decimal text");
    (void)value->stringValue();
    (void)value->numberValue();
    (void)value->boolValue();
    (void)value->JSONValue();
  }
  return 0;
}
