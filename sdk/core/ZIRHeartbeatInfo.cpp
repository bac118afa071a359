#include "sdk/core/ZIRHeartbeatInfo.h"

#include <mutex>
#include <optional>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/Value.h"
#include "sdk/core/ZIRLogger.h"

namespace {
constexpr double kSecondsInDay = 86400;
constexpr const char* kGlobalTag = "GLOBAL";

std::mutex& storageMutex() {
  static std::mutex m;
  return m;
}

Value readStorage(const std::string& path) {
  std::string text;
  const ns::FileRead read = ns::readFile(path, ZIRHeartbeatInfo::kMaxStorageBytes, &text);
  if (read == ns::FileRead::Missing || read == ns::FileRead::Unreadable) return Value::object();
  std::string error;
  std::optional<Value> parsed;
  if (read == ns::FileRead::TooLarge) {
    error = "larger than " + std::to_string(ZIRHeartbeatInfo::kMaxStorageBytes) + " bytes";
  } else {
    parsed = value::parseJSON(text, false, &error);
    if (parsed && !parsed->is_object()) error = "not a dictionary";
  }
  if (!parsed || !parsed->is_object()) {
    // Unreadable dates count as none; the file is kept aside rather than overwritten.
    ZIRLogWarning(ZIRLoggerCore, "I-COR000030", "Heartbeat storage could not be read (%s).",
                  error.c_str());
    ns::moveAside(path);
    return Value::object();
  }
  return *parsed;
}

// Renews the tag's date when a day has passed since it (or it has none).
bool renewIfDue(Value& storage, const std::string& tag, double now) {
  auto it = storage.find(tag);
  if (it != storage.end() && it->is_number()) {
    double last = it->get<double>();
    if (now - last < kSecondsInDay) return false;
  }
  storage[tag] = now;
  return true;
}
}  // namespace

std::string ZIRHeartbeatInfo::storagePath() {
  return NSApplicationSupportDirectory() + "/Zirezize/HEARTBEAT_INFO_STORAGE";
}

int ZIRHeartbeatInfo::heartbeatCodeForTag(const std::string& tag) {
  std::lock_guard<std::mutex> lock(storageMutex());
  std::string path = storagePath();
  Value storage = readStorage(path);
  double now = Clock::now();
  bool tagRenewed = renewIfDue(storage, tag, now);
  bool globalRenewed = renewIfDue(storage, kGlobalTag, now);
  if (tagRenewed || globalRenewed) {
    ns::createDirectory(NSApplicationSupportDirectory() + "/Zirezize");
    if (!ns::writeFileAtomically(path, value::toJSON(storage), 0600)) {
      ZIRLogWarning(ZIRLoggerCore, "I-COR000030", "Heartbeat storage could not be written.");
    }
  }
  int code = None;
  if (tagRenewed) code |= SDK;
  if (globalRenewed) code |= Global;
  return code;
}
