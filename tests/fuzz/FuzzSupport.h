#pragma once
// What every fuzz target shares, in the test driver and under libFuzzer alike.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fuzzsupport {

// Points SPECTRUM_ANALYSER_HOME at a private temporary folder (once per process, removed at exit),
// so that a target that reads files of the application home never touches a real one.
const std::string& privateHome();

// Reports an invariant the input broke and aborts, so that the driver and libFuzzer both keep the
// input as a finding.
[[noreturn]] void broken(const char* what);

// The input as text (bytes as they are, NULs included).
inline std::string_view asText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace fuzzsupport
