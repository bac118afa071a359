// A user-defaults file from disk: read, every value through the typed accessors, a change
// written back and read again as the next launch would.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSUserDefaults.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::privateHome();
  static const auto quiet = ns::setLogSink([](const std::string&) {});
  (void)quiet;
  const std::string dir = NSPreferencesDirectory();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  ns::createDirectory(dir);
  std::ofstream(dir + "/fuzz.plist", std::ios::binary).write(reinterpret_cast<const char*>(data),
                                                              static_cast<std::streamsize>(size));
  NSUserDefaults::resetForTesting();
  auto defaults = NSUserDefaults::suiteNamed("fuzz");
  const Value all = defaults->dictionaryRepresentation();
  if (!all.is_object()) std::abort();
  for (auto it = all.begin(); it != all.end(); ++it) {
    (void)defaults->stringForKey(it.key());
    (void)defaults->integerForKey(it.key());
    (void)defaults->doubleForKey(it.key());
    (void)defaults->boolForKey(it.key());
    (void)defaults->dataForKey(it.key());
    (void)defaults->arrayForKey(it.key());
  }
  defaults->setBool(true, "fuzz.written");
  const bool written = defaults->synchronize();
  NSUserDefaults::resetForTesting();
  if (written && !NSUserDefaults::suiteNamed("fuzz")->boolForKey("fuzz.written")) std::abort();
  NSUserDefaults::resetForTesting();
  std::filesystem::remove_all(dir, ec);
  return 0;
}
