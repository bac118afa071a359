#include "sdk/core/ZIRLibrary.h"

#include <cxxabi.h>

#include <cstdlib>

std::string ZIRProtocol::demangle(const char* mangled) {
  int status = 0;
  char* text = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string result = (status == 0 && text) ? std::string(text) : std::string(mangled);
  std::free(text);
  return result;
}

std::shared_ptr<ZIRDependency> ZIRDependency::dependencyWithProtocol(ZIRProtocol protocol,
                                                                     bool isRequired) {
  return std::make_shared<ZIRDependency>(std::move(protocol), isRequired);
}
