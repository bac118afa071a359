#pragma once
// The strings-file format of localized tables: lines of "key" = "value"; with /* */ and //
// comments, backslash escapes (\n \t \r \" \\ \' \Uxxxx \uxxxx and octal) and "key"; as a
// shorthand for a key that is its own value. UTF-8, with or without a byte-order mark.
// The format does not nest; files larger than kMaxStringsFileBytes are not read.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace ns {
inline constexpr size_t kMaxStringsFileBytes = 8 << 20;
// The entries of the file. On malformed text, *error names the line and the entries read before
// it are returned; *error stays empty when the whole file was read.
std::map<std::string, std::string> parseStringsFile(std::string_view text, std::string* error = nullptr);
}  // namespace ns
