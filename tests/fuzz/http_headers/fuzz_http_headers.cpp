// The header lines of a server's answer, one line at a time as curl hands them to the URL session:
// every name is kept once whatever its case, trimmed and never empty.
#include <cctype>
#include <string_view>

#include "platform/network/ResponseHeaderCollector.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = fuzzsupport::asText(data, size);
  net::ResponseHeaderCollector collector;
  size_t lines = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const size_t length = end == std::string_view::npos ? text.size() : end + 1;
    collector.addLine(text.substr(0, length));
    text.remove_prefix(length);
    ++lines;
  }
  const NSHTTPHeaderList& fields = collector.fields();
  if (fields.size() > lines) fuzzsupport::broken("more fields than lines");
  auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  for (const auto& [name, value] : fields) {
    if (name.empty()) fuzzsupport::broken("a field without a name");
    if (isSpace(name.front()) || isSpace(name.back())) fuzzsupport::broken("a name is not trimmed");
    if (!value.empty() && (isSpace(value.front()) || isSpace(value.back()))) fuzzsupport::broken("a value is not trimmed");
  }
  // Names are unique without regard to case: looking each up finds its own place.
  if (fields.size() <= 2000) {
    for (size_t i = 0; i < fields.size(); ++i) {
      for (size_t j = i + 1; j < fields.size(); ++j) {
        if (NSHTTPHeaderNameEquals(fields[i].first, fields[j].first)) fuzzsupport::broken("a name is kept twice");
      }
    }
  }
  if (collector.nameComparisons() > 2 * lines) fuzzsupport::broken("the lines cost more than linear work");
  return 0;
}
