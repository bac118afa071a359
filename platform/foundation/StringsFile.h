#pragma once
// The strings-file format of localized tables: lines of "key" = "value"; with /* */ and //
// comments, backslash escapes (\n \t \r \" \\ \' \Uxxxx \uxxxx and octal) and "key"; as a
// shorthand for a key that is its own value. UTF-8, with or without a byte-order mark.
#include <map>
#include <string>
#include <string_view>

namespace ns {
// The entries of the file. On malformed text, *error names the line and the entries read before
// it are returned; *error stays empty when the whole file was read.
std::map<std::string, std::string> parseStringsFile(std::string_view text, std::string* error = nullptr);
}  // namespace ns
