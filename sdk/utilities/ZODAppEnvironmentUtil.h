#pragma once
// Facts about the running environment.
#include <string>

class ZODAppEnvironmentUtil {
 public:
  // The operating system's version as text (the kernel release).
  static std::string systemVersion();
  // The machine's model (its hardware architecture name).
  static std::string deviceModel();
  static bool isSimulator() { return false; }
  static bool isFromAppStore() { return false; }
  static bool isAppExtension() { return false; }
};
