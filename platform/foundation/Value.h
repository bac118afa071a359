#pragma once
// The dynamic value of the platform: dictionaries, arrays, numbers (integer, unsigned and double
// kept apart), booleans, strings, null, raw data and dates.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

using Value = nlohmann::json;
using Bytes = std::vector<uint8_t>;

namespace value {

// Raw data is a binary value without subtype; a date is a binary value of subtype kDateSubtype
// holding the seconds since the reference date 2001-01-01 as a little-endian IEEE double: the
// number binary property lists and keyed archives store, so that a date read from one is written
// back with the very bytes it was read from.
inline constexpr std::uint64_t kDateSubtype = 0x44;

Value data(const Bytes& bytes);
Value data(std::string_view bytes);
bool isData(const Value& v);
Bytes dataBytes(const Value& v);  // empty when v is not data

// A date from seconds since 1970 (rounded once to the seconds since 2001 it is held as).
Value date(double secondsSince1970);
Value dateSinceReferenceDate(double secondsSince2001);
bool isDate(const Value& v);
double dateSeconds(const Value& v);  // since 1970; 0 when v is not a date
double dateSecondsSinceReferenceDate(const Value& v);  // as held; 0 when v is not a date

// The deepest nesting of arrays and objects parseJSON accepts: text nested deeper is refused
// before a value is built, so that every recursive walk of a parsed Value (writing, comparing,
// copying, redacting) stays far inside any thread's stack. The database nests values up to 1,000
// levels below its root and then wraps them in a few levels of its own messages, so the limit
// stands well above that: every legal database value still parses.
inline constexpr size_t kMaxJSONDepth = 1500;

// Strict JSON parse. Without allowFragments the top level must be an object or an array.
// Returns nullopt and sets *error on malformed input and on nesting deeper than kMaxJSONDepth
// (the top-level array or object is depth 1). The error names the byte offset and the kind of
// fault and never quotes the text, which may hold credentials.
std::optional<Value> parseJSON(std::string_view text, bool allowFragments = false,
                               std::string* error = nullptr);
// Compact or pretty JSON text. Data and dates are written as base64 text and seconds.
std::string toJSON(const Value& v, bool pretty = false);

}  // namespace value
