// The application bundle's Info.plist as the windowed start-up reads it: the bundle's information
// list, its identifier and the name the window shows. A list that cannot be read counts as empty;
// a display name that is not text ends start-up with a named exception that names the key, never
// with another exception.
#include <filesystem>
#include <fstream>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSException.h"
#include "platform/uikit/UIApplication.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {
// A bundle folder of the target's own, holding only the Info.plist under test.
const std::string& bundleFolder() {
  static const std::string folder = [] {
    const std::string path = fuzzsupport::privateHome() + "/bundle";
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = bundleFolder();
  {
    std::ofstream out(folder + "/Info.plist", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  NSBundle::setMainBundlePathForTesting(folder);  // forgets the list read for the previous input
  auto& bundle = NSBundle::mainBundle();
  if (!bundle.infoDictionary().is_object()) fuzzsupport::broken("the information list is not a dictionary");
  (void)bundle.bundleIdentifier();
  const auto value = bundle.objectForInfoDictionaryKey("CFBundleDisplayName");
  try {
    const std::string name = UIApplicationDisplayName();
    if (value ? !(value->is_string() && value->get<std::string>() == name) : name != "Application")
      fuzzsupport::broken("the window's name is not the one the list gives");
  } catch (const NSException& e) {
    if (!value || value->is_string()) fuzzsupport::broken("a usable name was refused");
    if (e.reason().find("CFBundleDisplayName") == std::string::npos) fuzzsupport::broken("the refusal names no key");
  }
  return 0;
}
