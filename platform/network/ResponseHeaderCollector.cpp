#include "platform/network/ResponseHeaderCollector.h"

#include <cctype>

namespace net {

namespace {

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

size_t ResponseHeaderCollector::NameHash::operator()(const std::string& name) const {
  // FNV-1a over the lower-case bytes: names that differ only in case land together.
  size_t h = 14695981039346656037ull;
  for (char c : name) {
    h ^= static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
    h *= 1099511628211ull;
  }
  return h;
}

bool ResponseHeaderCollector::NameEquals::operator()(const std::string& a, const std::string& b) const {
  ++*comparisons;
  return NSHTTPHeaderNameEquals(a, b);
}

ResponseHeaderCollector::ResponseHeaderCollector()
    : positions_(0, NameHash{}, NameEquals{&nameComparisons_}) {}

void ResponseHeaderCollector::clear() {
  fields_.clear();
  positions_.clear();
}

void ResponseHeaderCollector::addLine(std::string_view line) {
  if (line.rfind("HTTP/", 0) == 0) {
    clear();
    return;
  }
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  std::string name(trimmed(line.substr(0, colon)));
  if (name.empty()) return;
  std::string value(trimmed(line.substr(colon + 1)));
  auto [at, added] = positions_.try_emplace(std::move(name), fields_.size());
  if (added) {
    fields_.emplace_back(at->first, std::move(value));
  } else {
    fields_[at->second].second = std::move(value);
  }
}

NSHTTPHeaderList ResponseHeaderCollector::takeFields() {
  NSHTTPHeaderList out = std::move(fields_);
  clear();
  return out;
}

}  // namespace net
