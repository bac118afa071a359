// A user-defaults file from disk: read, every value through the typed accessors, a change
// written back (a file that was read is always saved again) and read again as the next launch
// would, with every value as it was read.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSUserDefaults.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/PlistFuzzSupport.h"

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
  // A file that cannot be read is moved aside; one that stays was read, and must be saved again.
  const bool read = std::filesystem::exists(dir + "/fuzz.plist");
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
  if (read && !written) fuzzsupport::broken("a file that was read could not be saved again");
  NSUserDefaults::resetForTesting();
  // A save keeps every value that was read as it was read.
  if (written) {
    Value reread = NSUserDefaults::suiteNamed("fuzz")->dictionaryRepresentation();
    if (!reread.contains("fuzz.written") || !reread["fuzz.written"].is_boolean()) std::abort();
    reread.erase("fuzz.written");
    Value before = all;
    before.erase("fuzz.written");
    if (!fuzzsupport::samePlistValue(before, reread)) fuzzsupport::broken("a save changed a value that was read");
  }
  NSUserDefaults::resetForTesting();
  std::filesystem::remove_all(dir, ec);
  return 0;
}
