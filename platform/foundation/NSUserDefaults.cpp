#include "platform/foundation/NSUserDefaults.h"

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

#include <sys/stat.h>

#include "platform/foundation/ApplicationName.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PlistValue.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// Changes are written this long after the last change (real time), and never later than the
// cap after the first unwritten change, so a steady stream of changes still reaches the disk.
constexpr auto kWriteDelay = std::chrono::milliseconds(200);
constexpr auto kWriteCap = std::chrono::milliseconds(1000);

constexpr const char* kFallbackSuite = kApplicationName;

bool containsNull(const Value& v) {
  if (v.is_null()) return true;
  if (v.is_array() || v.is_object())
    for (const auto& item : v)
      if (containsNull(item)) return true;
  return false;
}

// Whether a text or key anywhere in the value is not UTF-8: a property list holds characters, and
// such bytes have none to be stored as (the platform's strings cannot hold them either).
bool holdsBytesThatAreNoText(const Value& v) {
  if (v.is_string()) return !ns::isValidUTF8(v.get_ref<const std::string&>());
  if (v.is_object())
    for (auto it = v.begin(); it != v.end(); ++it)
      if (!ns::isValidUTF8(it.key()) || holdsBytesThatAreNoText(it.value())) return true;
  if (v.is_array())
    for (const auto& item : v)
      if (holdsBytesThatAreNoText(item)) return true;
  return false;
}

std::string numberText(const Value& v) {
  if (v.is_number_integer() && !v.is_number_unsigned()) return std::to_string(v.get<int64_t>());
  if (v.is_number_unsigned()) return std::to_string(v.get<uint64_t>());
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v.get<double>());
  return std::string(buf, res.ptr);
}

// The platform string's boolValue: after white space and an optional sign and zeros, a leading
// "Y", "y", "T", "t" or a digit 1-9 means true.
bool textBool(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  while (i < s.size() && s[i] == '0') ++i;
  if (i >= s.size()) return false;
  char c = s[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::string sanitizedSuite(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (c == '/' || c == '\0') c = '_';
  if (out == "." || out == "..") out = "_" + out;
  if (out != name) NSLog("User defaults suite name \"%s\" is not a file name; using \"%s\"", name.c_str(), out.c_str());
  return out;
}

}  // namespace

struct NSUserDefaults::State {
  std::string suite;
  std::string path;
  mutable std::mutex mutex;
  Value values = Value::object();
  uint64_t generation = 0;         // bumped by every change
  uint64_t writtenGeneration = 0;  // the generation last on disk
  bool writeBlocked = false;       // an unreadable file could not be moved aside: never overwrite it
  std::mutex writeMutex;           // orders writes so an older snapshot never lands after a newer one
};

namespace {

// The process-wide registry and the delayed writer. Never destroyed: the writer thread and the
// exit-time flush may run while static objects are being torn down.
struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<NSUserDefaults>> suites;

  std::mutex writerMutex;
  std::condition_variable writerWake;
  struct Pending {
    std::weak_ptr<NSUserDefaults> defaults;
    SteadyClock::time_point first;
    SteadyClock::time_point due;
  };
  std::map<const NSUserDefaults*, Pending> pending;
  bool writerStarted = false;
  bool stopping = false;
  std::mutex workMutex;  // held by the writer while it writes, and by the exit flush

  void schedule(const std::shared_ptr<NSUserDefaults>& d) {
    std::lock_guard<std::mutex> lock(writerMutex);
    if (stopping) return;
    auto now = SteadyClock::now();
    auto it = pending.find(d.get());
    if (it == pending.end() || it->second.defaults.expired()) {
      pending[d.get()] = Pending{d, now, now + kWriteDelay};
    } else {
      it->second.due = std::min(now + kWriteDelay, it->second.first + kWriteCap);
    }
    if (!writerStarted) {
      writerStarted = true;
      std::thread([this] { writerLoop(); }).detach();
    }
    writerWake.notify_all();
  }

  void writerLoop() {
    std::unique_lock<std::mutex> lock(writerMutex);
    while (!stopping) {
      if (pending.empty()) {
        writerWake.wait(lock);
        continue;
      }
      auto next = SteadyClock::time_point::max();
      for (const auto& [key, p] : pending) next = std::min(next, p.due);
      if (SteadyClock::now() < next) {
        writerWake.wait_until(lock, next);
        continue;
      }
      std::vector<std::shared_ptr<NSUserDefaults>> due;
      auto now = SteadyClock::now();
      for (auto it = pending.begin(); it != pending.end();) {
        if (it->second.due <= now) {
          if (auto d = it->second.defaults.lock()) due.push_back(std::move(d));
          it = pending.erase(it);
        } else {
          ++it;
        }
      }
      lock.unlock();
      {
        std::lock_guard<std::mutex> work(workMutex);
        for (auto& d : due) d->synchronize();
        due.clear();
      }
      lock.lock();
    }
  }

  std::vector<std::shared_ptr<NSUserDefaults>> everySuite() {
    std::vector<std::shared_ptr<NSUserDefaults>> all;
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (auto& [name, d] : suites) all.push_back(d);
    }
    std::lock_guard<std::mutex> lock(writerMutex);
    for (auto& [key, p] : pending)
      if (auto d = p.defaults.lock()) all.push_back(std::move(d));
    return all;
  }
};

Registry& registry() {
  static Registry* r = [] {
    auto* created = new Registry();
    std::atexit([] {
      Registry& reg = registry();
      {
        std::lock_guard<std::mutex> lock(reg.writerMutex);
        reg.stopping = true;
      }
      reg.writerWake.notify_all();
      std::lock_guard<std::mutex> work(reg.workMutex);
      for (auto& d : reg.everySuite()) d->synchronize();
    });
    return created;
  }();
  return *r;
}

}  // namespace

NSUserDefaults::NSUserDefaults(std::string suite) : state_(std::make_unique<State>()) {
  state_->suite = std::move(suite);
  state_->path = NSPreferencesDirectory() + "/" + state_->suite + ".plist";

  std::string bytes;
  std::string error;
  std::optional<Value> parsed;
  switch (ns::readFile(state_->path, ns::kMaxPlistBytes, &bytes)) {
    case ns::FileRead::Missing:
      return;
    case ns::FileRead::Unreadable:
      // The file is there but cannot be read: leave it alone rather than write over it.
      NSLog("User defaults file %s cannot be read; changes to suite %s will not be saved",
            state_->path.c_str(), state_->suite.c_str());
      state_->writeBlocked = true;
      return;
    case ns::FileRead::TooLarge:
      error = "larger than " + std::to_string(ns::kMaxPlistBytes) + " bytes";
      break;
    case ns::FileRead::Read:
      parsed = ns::plistParse(bytes, &error);
      break;
  }
  if (parsed && !parsed->is_object()) {
    parsed.reset();
    error = "the top level is not a dictionary";
  }
  if (parsed) {
    state_->values = std::move(*parsed);
    return;
  }
  const std::string aside = ns::moveAside(state_->path);
  if (aside.empty()) {
    NSLog("User defaults file %s is unreadable (%s) and could not be moved aside; changes to suite %s will not be saved",
          state_->path.c_str(), error.c_str(), state_->suite.c_str());
    state_->writeBlocked = true;
  } else {
    NSLog("User defaults file %s is unreadable (%s); its bytes were kept as %s and the suite %s starts empty",
          state_->path.c_str(), error.c_str(), aside.c_str(), state_->suite.c_str());
  }
}

NSUserDefaults::~NSUserDefaults() {
  bool dirty;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    dirty = state_->generation != state_->writtenGeneration;
  }
  if (dirty) synchronize();
}

std::shared_ptr<NSUserDefaults> NSUserDefaults::standardUserDefaults() { return suiteNamed(""); }

std::shared_ptr<NSUserDefaults> NSUserDefaults::suiteNamed(const std::string& suiteName) {
  std::string name = suiteName;
  if (name.empty()) name = NSBundle::mainBundle().bundleIdentifier().value_or("");
  if (name.empty()) name = kFallbackSuite;
  name = sanitizedSuite(name);
  Registry& reg = registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto& slot = reg.suites[name];
  if (!slot) slot = std::shared_ptr<NSUserDefaults>(new NSUserDefaults(name));
  return slot;
}

void NSUserDefaults::resetForTesting() {
  Registry& reg = registry();
  std::map<std::string, std::shared_ptr<NSUserDefaults>> dropped;
  {
    std::lock_guard<std::mutex> lock(reg.mutex);
    dropped.swap(reg.suites);
  }
  for (auto& d : reg.everySuite()) d->synchronize();
  for (auto& [name, d] : dropped) d->synchronize();
}

std::optional<Value> NSUserDefaults::objectForKey(const std::string& key) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->values.find(key);
  if (it == state_->values.end()) return std::nullopt;
  return *it;
}

std::optional<std::string> NSUserDefaults::stringForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v) return std::nullopt;
  if (v->is_string()) return v->get<std::string>();
  if (v->is_boolean()) return std::string(v->get<bool>() ? "1" : "0");
  if (v->is_number()) return numberText(*v);
  return std::nullopt;
}

int64_t NSUserDefaults::integerForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v) return 0;
  if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
  if (v->is_number_float()) {
    double d = v->get<double>();
    if (!(d == d)) return 0;
    if (d >= 9.2233720368547758e18) return INT64_MAX;
    if (d <= -9.2233720368547758e18) return INT64_MIN;
    return static_cast<int64_t>(d);
  }
  if (v->is_number()) return v->get<int64_t>();
  if (v->is_string()) return ns::integerValue(v->get_ref<const std::string&>());
  return 0;
}

double NSUserDefaults::doubleForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v) return 0;
  if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
  if (v->is_number()) return v->get<double>();
  if (v->is_string()) return ns::doubleValue(v->get_ref<const std::string&>());
  return 0;
}

bool NSUserDefaults::boolForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v) return false;
  if (v->is_boolean()) return v->get<bool>();
  if (v->is_number()) return v->get<double>() != 0;
  if (v->is_string()) return textBool(v->get_ref<const std::string&>());
  return false;
}

std::optional<Bytes> NSUserDefaults::dataForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v || !value::isData(*v)) return std::nullopt;
  return value::dataBytes(*v);
}

std::optional<Value> NSUserDefaults::arrayForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v || !v->is_array()) return std::nullopt;
  return v;
}

std::optional<Value> NSUserDefaults::dictionaryForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v || !v->is_object()) return std::nullopt;
  return v;
}

Value NSUserDefaults::dictionaryRepresentation() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->values;
}

void NSUserDefaults::setObject(const Value& value, const std::string& key) {
  if (value.is_null()) {
    removeObjectForKey(key);
    return;
  }
  if (containsNull(value)) {
    NSLog("User defaults cannot store the value for key \"%s\": it holds null; the old value is kept",
          key.c_str());
    return;
  }
  // Stored, such a value would keep the whole suite from being written.
  if (!ns::isValidUTF8(key) || holdsBytesThatAreNoText(value)) {
    NSLog("User defaults cannot store the value for key \"%s\": it holds text that is not UTF-8; the old value is "
          "kept",
          ns::validUTF8(key).c_str());
    return;
  }
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto it = state_->values.find(key);
    if (it != state_->values.end() && *it == value && it->type() == value.type()) return;
    state_->values[key] = value;
    ++state_->generation;
  }
  registry().schedule(shared_from_this());
}

void NSUserDefaults::setInteger(int64_t value, const std::string& key) { setObject(Value(value), key); }
void NSUserDefaults::setDouble(double value, const std::string& key) { setObject(Value(value), key); }
void NSUserDefaults::setBool(bool value, const std::string& key) { setObject(Value(value), key); }

void NSUserDefaults::removeObjectForKey(const std::string& key) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->values.erase(key) == 0) return;
    ++state_->generation;
  }
  registry().schedule(shared_from_this());
}

bool NSUserDefaults::synchronize() {
  std::lock_guard<std::mutex> write(state_->writeMutex);
  Value snapshot;
  uint64_t generation;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->generation == state_->writtenGeneration) return !state_->writeBlocked;
    if (state_->writeBlocked) {
      NSLog("User defaults of suite %s are not saved: its file %s could not be read",
            state_->suite.c_str(), state_->path.c_str());
      return false;
    }
    snapshot = state_->values;
    generation = state_->generation;
  }
  std::string error;
  auto bytes = ns::plistSerialize(snapshot, true, &error);
  if (!bytes) {
    NSLog("User defaults of suite %s could not be serialised: %s", state_->suite.c_str(), error.c_str());
    return false;
  }
  // A file that could not be read back would be moved aside at the next launch: what the reader's
  // limits refuse is not written (plistSerialize refuses values that would decode past them).
  if (bytes->size() > ns::kMaxPlistBytes) {
    NSLog("User defaults of suite %s are not saved: they take %zu bytes, more than a defaults file may hold",
          state_->suite.c_str(), bytes->size());
    return false;
  }

  if (!ns::writeFileAtomically(state_->path, *bytes, 0600)) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (generation > state_->writtenGeneration) state_->writtenGeneration = generation;
  return true;
}

const std::string& NSUserDefaults::suiteName() const { return state_->suite; }

std::string NSUserDefaults::filePath() const { return state_->path; }
