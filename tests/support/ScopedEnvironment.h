#pragma once
// Environment variables set for the life of a scope, each restored (or removed again) at its end.
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace testsupport {

class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  // Sets the variable, or removes it when value is nullopt; the value it had before this scope
  // first touched it is the one restored.
  void set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    apply(name, value);
  }

  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) apply(name, value);
  }

 private:
  static void apply(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace testsupport
