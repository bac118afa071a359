#pragma once
// Property lists as Values: XML or binary plist bytes to a Value and back, through libplist.
// Integers stay integers, reals stay doubles, booleans stay booleans; data and dates use the
// binary forms of Value.h. A plist UID (used by keyed archives) is a binary value of subtype
// kUIDSubtype holding the number as 8 little-endian bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace ns {

inline constexpr std::uint64_t kUIDSubtype = 0x55;

// Limits of every property list read (user defaults, bundle and service-info lists, keyed
// archives): the bytes read, the nesting of arrays and dictionaries, the estimated memory the
// decoded value may take, and the number of values it holds (every array, dictionary, key and
// leaf; each copy of a shared object counts). A binary list may reference one object from many
// places; each place gets a copy, so a small file could otherwise expand without bound.
inline constexpr size_t kMaxPlistBytes = 32 << 20;
inline constexpr size_t kMaxPlistDepth = 512;
inline constexpr size_t kMaxPlistDecodedBytes = 64 << 20;
// Writing a list back (libplist's binary writer) slows with the square of its values past some
// ten thousand, and a user-defaults file is written after every change; a defaults file of the
// application holds tens of values and a profiles archive a few hundred per profile, so the limit
// leaves a hundredfold room.
inline constexpr size_t kMaxPlistValues = 1 << 16;
Value plistUID(uint64_t uid);
bool isPlistUID(const Value& v);
uint64_t plistUIDValue(const Value& v);  // 0 when v is not a UID

// Parses XML or binary plist bytes. nullopt (with *error set) when the bytes are not a plist,
// are truncated or nest deeper than a sane limit.
std::optional<Value> plistParse(std::string_view bytes, std::string* error = nullptr);
// Serialises a Value as a binary (or XML) plist. Null cannot be stored in a plist: a null anywhere
// in the value gives nullopt with *error set, as does a value the reader's limits would refuse
// (nested deeper than kMaxPlistDepth, or reckoned past kMaxPlistDecodedBytes). Dates are stored to the microsecond within the
// 32-bit seconds libplist holds (clamped beyond); a date that is not a number becomes 2001-01-01.
std::optional<std::string> plistSerialize(const Value& v, bool binary = true,
                                          std::string* error = nullptr);

}  // namespace ns
