#pragma once
// Property lists as Values: XML or binary plist bytes to a Value and back. Binary lists are read
// and written by our own code (BinaryPlistReader.h, BinaryPlistWriter.h), XML ones through
// libplist. Integers stay integers, reals stay doubles, booleans stay booleans; data and dates use the
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
// A list is written back whole after every change (a defaults file) or save (an archive): a
// defaults file of the application holds tens of values and a profiles archive a few hundred per
// profile, so the limit leaves a hundredfold room.
inline constexpr size_t kMaxPlistValues = 1 << 16;
Value plistUID(uint64_t uid);
bool isPlistUID(const Value& v);
uint64_t plistUIDValue(const Value& v);  // 0 when v is not a UID

// Parses XML or binary plist bytes. nullopt (with *error set) when the bytes are not a plist,
// are truncated or nest deeper than a sane limit, and when a value would not read as it was
// written, so that a list read and written again never changes: a key or a text that is not UTF-8
// (or, in XML, holds NUL), a dictionary holding a key twice, half of a UTF-16 surrogate pair, a
// binary integer or UID beyond 64 bits, an XML integer that is not a plain decimal number of the
// 64-bit range, an XML date libplist would read as another date. Integers above 2^63-1 read as unsigned Values; the binary one-byte string type
// holding 8-bit text reads as the Latin-1 characters it stands for.
std::optional<Value> plistParse(std::string_view bytes, std::string* error = nullptr);
// Serialises a Value as a binary (or XML) plist. The binary form holds every value exactly as
// plistParse reads it back (BinaryPlistWriter.h). Either form refuses (nullopt with *error set) a
// null anywhere in the value, text that is not UTF-8 and a value the readers' limits would refuse
// (nested deeper than kMaxPlistDepth, reckoned past kMaxPlistDecodedBytes or kMaxPlistValues, or
// written in more than kMaxPlistBytes: in XML every copy of a shared value is written out). The XML form, written
// by libplist, also refuses what it would write changed: text holding NUL, integers above 2^63-1
// and UIDs; its dates are whole seconds within the 32 bits libplist holds (rounded down, clamped
// beyond), and a date that is not a number becomes 2001-01-01. An XML date reads as the text shows
// it ("YYYY-MM-DDTHH:MM:SSZ" within those 32 bits, else the list is refused) and is written back as
// the same text; a binary date is written back with the bytes it was read from.
std::optional<std::string> plistSerialize(const Value& v, bool binary = true,
                                          std::string* error = nullptr);

}  // namespace ns
