#include "profiles/ProfilesSupport.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSException.h"
#include "platform/uikit/UIColorNamed.h"

namespace tarn {

std::string localised(const std::string& key) { return NSBundle::mainBundle().localizedStringForKey(key, "", ""); }

UIColorRef namedColor(const std::string& name) {
  if (auto color = UIColorNamed(name)) return color;
  NSException::raise(NSInternalInconsistencyException, "the asset catalogue has no colour named \"%s\"", name.c_str());
}

UIColorRef hexColor(uint32_t rgb, double alpha) {
  return UIColor::colorWithRed(((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, alpha);
}

int64_t stableHash(const std::string& text) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return static_cast<int64_t>(h);
}

namespace {
std::mutex& recorderMutex() {
  static auto* m = new std::mutex();
  return *m;
}
std::function<void(const std::string&)>& recorder() {
  static auto* r = new std::function<void(const std::string&)>();
  return *r;
}
}  // namespace

void setUsageEventRecorder(std::function<void(const std::string&)> r) {
  std::lock_guard<std::mutex> lock(recorderMutex());
  recorder() = std::move(r);
}

void recordUsageEvent(const std::string& name) {
  std::function<void(const std::string&)> r;
  {
    std::lock_guard<std::mutex> lock(recorderMutex());
    r = recorder();
  }
  if (r) r(name);
}

int wholeDecibels(double level) {
  if (std::isnan(level)) return -130;
  if (std::isinf(level)) return level < 0 ? -130 : 0;
  return static_cast<int>(std::clamp(level, -100000.0, 100000.0));
}

}  // namespace tarn
