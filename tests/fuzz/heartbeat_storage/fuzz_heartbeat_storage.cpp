// The heartbeat storage file, read for every installations request header.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/foundation/NSPathUtilities.h"
#include "sdk/core/ZIRHeartbeatInfo.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::privateHome();
  const std::filesystem::path path = ZIRHeartbeatInfo::storagePath();
  std::error_code ec;
  std::filesystem::remove_all(path.parent_path(), ec);
  ns::createDirectory(path.parent_path().string());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  const int first = ZIRHeartbeatInfo::heartbeatCodeForTag("fuzz");
  if (first < ZIRHeartbeatInfo::None || first > ZIRHeartbeatInfo::Combined) std::abort();
  // Whatever the file held, the dates are now good for a day.
  if (ZIRHeartbeatInfo::heartbeatCodeForTag("fuzz") != ZIRHeartbeatInfo::None) std::abort();
  std::filesystem::remove_all(path.parent_path(), ec);
  return 0;
}
