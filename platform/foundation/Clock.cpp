#include "platform/foundation/Clock.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/foundation/NSLog.h"

namespace {

double systemWallSeconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

double steadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct ClockState {
  std::mutex mutex;
  std::atomic<bool> manual{false};
  double manualNow = 0;
  double manualMonotonic = 0;
  // Added to the steady clock so the monotonic reading never runs backwards when a manual clock
  // that was stepped ahead is switched off again.
  double monotonicOffset = 0;

  // Listeners are called with this held; it is recursive so a listener may add another.
  std::recursive_mutex listenerMutex;
  std::map<int, std::shared_ptr<Clock::Listener>> listeners;
  int nextId = 1;
};

// Never destroyed: threads may still read the clock while the process exits.
ClockState& state() {
  static ClockState* s = new ClockState();
  return *s;
}

void notifyListeners() {
  ClockState& s = state();
  std::lock_guard<std::recursive_mutex> lock(s.listenerMutex);
  // A copy, so a listener that adds or removes listeners does not disturb the walk.
  std::vector<std::shared_ptr<Clock::Listener>> current;
  current.reserve(s.listeners.size());
  for (auto& [id, l] : s.listeners) current.push_back(l);
  for (auto& l : current) {
    try {
      (*l)();
    } catch (const std::exception& e) {
      NSLog("Clock: a listener threw: %s", e.what());
    } catch (...) {
      NSLog("Clock: a listener threw an unknown exception");
    }
  }
}

}  // namespace

double Clock::now() {
  ClockState& s = state();
  if (!s.manual.load(std::memory_order_acquire)) return systemWallSeconds();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.manual.load()) return systemWallSeconds();
  return s.manualNow;
}

double Clock::monotonic() {
  ClockState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.manual.load()) return s.manualMonotonic;
  return steadySeconds() + s.monotonicOffset;
}

bool Clock::isManual() { return state().manual.load(std::memory_order_acquire); }

void Clock::setManual(bool manual) {
  ClockState& s = state();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.manual.load() == manual) return;
    if (manual) {
      s.manualNow = systemWallSeconds();
      s.manualMonotonic = steadySeconds() + s.monotonicOffset;
    } else {
      double steady = steadySeconds();
      if (s.manualMonotonic > steady + s.monotonicOffset) s.monotonicOffset = s.manualMonotonic - steady;
    }
    s.manual.store(manual, std::memory_order_release);
  }
  // Waiters computed their deadlines against the other clock.
  notifyListeners();
}

void Clock::advance(double seconds) {
  ClockState& s = state();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.manual.load()) {
      NSLog("Clock: advance(%g) ignored: the clock is not manual", seconds);
      return;
    }
    if (!(seconds >= 0)) {
      NSLog("Clock: advance(%g) ignored: time only moves forward", seconds);
      return;
    }
    s.manualNow += seconds;
    s.manualMonotonic += seconds;
  }
  notifyListeners();
}

void Clock::setNow(double secondsSince1970) {
  ClockState& s = state();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.manual.load()) {
      NSLog("Clock: setNow ignored: the clock is not manual");
      return;
    }
    s.manualNow = secondsSince1970;
  }
  notifyListeners();
}

int Clock::addListener(Listener listener) {
  ClockState& s = state();
  std::lock_guard<std::recursive_mutex> lock(s.listenerMutex);
  int id = s.nextId++;
  s.listeners.emplace(id, std::make_shared<Listener>(std::move(listener)));
  return id;
}

