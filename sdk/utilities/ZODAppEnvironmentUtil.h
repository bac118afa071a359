#pragma once
// Facts about the running environment.
#include <string>

class ZODAppEnvironmentUtil {
 public:
  // The operating system's version as text (the kernel release).
  static std::string systemVersion();
};
