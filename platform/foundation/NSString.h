#pragma once
// String helpers with the platform string's semantics: lengths and comparisons in UTF-16 code
// units, the leading-number parse of floatValue, case mapping, splitting and base64.
#include <cstdarg>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ns {

// Number of UTF-16 code units of a UTF-8 text (a character above U+FFFF counts two).
// Invalid UTF-8 bytes count one unit each, as the replacement character would.
size_t utf16Length(std::string_view utf8);

// The UTF-16 code units of a UTF-8 text.
std::u16string toUTF16(std::string_view utf8);
std::string fromUTF16(std::u16string_view utf16);
// Appends one code point as UTF-8.
void appendUTF8(std::string& out, char32_t codePoint);
// Whether the bytes are well-formed UTF-8 (no stray or overlong bytes, no surrogates).
bool isValidUTF8(std::string_view text);
// The text with every byte that does not start a well-formed character replaced by U+FFFD.
std::string validUTF8(std::string_view text);
// The longest start of a UTF-8 text that takes at most maxBytes bytes without cutting a character.
std::string_view prefixUTF8(std::string_view text, size_t maxBytes);

// Whether a code point is in the platform's alphanumeric character set: the Unicode letters,
// marks and numbers (general categories L*, M* and N*) of every script, whatever the C locale.
bool isAlphanumeric(char32_t codePoint);

// Compares two UTF-8 texts by their UTF-16 code units, as the platform's literal compare does:
// -1, 0 or 1. A character above U+FFFF (a surrogate pair, D800-DFFF) orders before U+E000-U+FFFF.
int utf16Compare(std::string_view a, std::string_view b);

// floatValue / doubleValue / intValue of the platform string: leading white space is skipped,
// the longest leading number is read; 0 when there is none.
double doubleValue(std::string_view text);
float floatValue(std::string_view text);
int64_t integerValue(std::string_view text);

std::string uppercase(std::string_view text);  // ASCII letters
std::string lowercase(std::string_view text);
std::vector<std::string> split(std::string_view text, std::string_view separator);
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);
bool hasPrefix(std::string_view text, std::string_view prefix);
bool hasSuffix(std::string_view text, std::string_view suffix);

// printf-style formatting into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vformat(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));

// Base64, standard (with "=" padding) or URL-safe ("-" and "_", padding kept).
std::string base64Encode(const std::vector<uint8_t>& bytes, bool urlSafe = false);
std::string base64Encode(std::string_view bytes, bool urlSafe = false);
// Decodes either alphabet; missing padding is accepted. nullopt on malformed input.
std::optional<std::vector<uint8_t>> base64Decode(std::string_view text);

}  // namespace ns
