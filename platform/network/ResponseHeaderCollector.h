#pragma once
// The header fields of one HTTP answer, gathered from the lines curl hands over one at a time (the
// URL session's header callback owns one per transfer; one thread). Names compare without regard
// to case; a repeated field keeps the position it first had and the value it last had; a status
// line starts a new answer (after a redirect or an interim answer only the last one counts); a
// line without a colon or with an empty name is no field. Work is linear in the lines: a name is
// looked up in a hash of the names seen so far, never compared with each of them.
//
// Limits: none of its own. curl caps one answer's header lines (300 KiB in all from 7.84 on, and
// the session refuses to run on an older library), so an answer holds at most some 60,000 fields.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/network/NSURLSession.h"

namespace net {

class ResponseHeaderCollector {
 public:
  ResponseHeaderCollector();
  ResponseHeaderCollector(const ResponseHeaderCollector&) = delete;
  ResponseHeaderCollector& operator=(const ResponseHeaderCollector&) = delete;

  // One header line as received, with or without its line break.
  void addLine(std::string_view line);
  const NSHTTPHeaderList& fields() const { return fields_; }
  NSHTTPHeaderList takeFields();

  // How often two names were compared so far: the measure of the work the lines cost, for tests.
  size_t nameComparisons() const { return nameComparisons_; }

 private:
  struct NameHash {
    size_t operator()(const std::string& name) const;
  };
  struct NameEquals {
    size_t* comparisons;
    bool operator()(const std::string& a, const std::string& b) const;
  };

  void clear();

  NSHTTPHeaderList fields_;
  size_t nameComparisons_ = 0;
  // Where each name (in any case) stands in fields_.
  std::unordered_map<std::string, size_t, NameHash, NameEquals> positions_;
};

}  // namespace net
