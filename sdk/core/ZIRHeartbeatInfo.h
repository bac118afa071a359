#pragma once
// Daily heartbeats: for a tag and for the global tag "GLOBAL" the date of the last heartbeat is kept
// in the file "HEARTBEAT_INFO_STORAGE"; a date is renewed only when 86,400 s have passed.
// The file is JSON of a few dates: one larger than kMaxStorageBytes, nested deeper than JSON may
// nest (value::kMaxJSONDepth) or otherwise unreadable counts as no dates and is moved aside.
#include <cstddef>
#include <string>

class ZIRHeartbeatInfo {
 public:
  enum HeartbeatCode : int { None = 0, SDK = 1, Global = 2, Combined = 3 };
  static constexpr size_t kMaxStorageBytes = 1 << 20;
  // 0 neither date renewed, 1 only the tag's, 2 only the global one, 3 both. Asking records.
  static int heartbeatCodeForTag(const std::string& tag);
  // The storage file's path (under the application support folder).
  static std::string storagePath();
};
