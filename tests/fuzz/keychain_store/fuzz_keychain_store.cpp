// The keychain's store file on disk: read through every keychain call, a damaged one moved aside
// (and logged without its content: seeds mark secrets with "SECRET"), the keychain usable after.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/security/Keychain.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::privateHome();
  static const auto check = ns::setLogSink([](const std::string& line) {
    if (line.find("SECRET") != std::string::npos || line.find("U0VDUkVU") != std::string::npos) std::abort();
  });
  (void)check;
  const std::string dir = NSKeychainDirectory();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  ns::createDirectory(dir);
  std::ofstream(dir + "/generic-passwords.json", std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  const Value all = {{kSecClass, kSecClassGenericPassword}, {kSecReturnData, true},
                     {kSecReturnAttributes, true}, {kSecMatchLimit, kSecMatchLimitAll}};
  Value found;
  OSStatus status = SecItemCopyMatching(all, &found);
  if (status != errSecSuccess && status != errSecItemNotFound) std::abort();
  const Value probe = {{kSecClass, kSecClassGenericPassword}, {kSecAttrService, "fuzz"}, {kSecAttrAccount, "probe"}};
  Value item = probe;
  item[kSecValueData] = value::data(std::string_view("value"));
  status = SecItemAdd(item);
  if (status != errSecSuccess && status != errSecDuplicateItem) std::abort();
  Value query = probe;
  query[kSecReturnData] = true;
  if (SecItemCopyMatching(query, &found) != errSecSuccess) std::abort();
  // A store holding the same item twice (never written so) refuses the update rather than merge them.
  status = SecItemUpdate(probe, Value{{kSecValueData, value::data(std::string_view("other"))}});
  if (status != errSecSuccess && status != errSecDuplicateItem) std::abort();
  if (SecItemDelete(probe) != errSecSuccess) std::abort();
  std::filesystem::remove_all(dir, ec);
  return 0;
}
