#pragma once
// File addresses as callers hand them over (a path or a "file:" URL), and bounded reads of the small
// text files the program takes from outside (calibration files, band tables).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ns {

// The local path an address names. A "file:" URL ("file:///a/b%20c.txt", "file://localhost/a/b",
// "file:/a/b"; scheme and host compared without case) has its percent escapes decoded and its
// query and fragment dropped; anything else is a path and is returned unchanged (a file may well
// be named "cal%20file.txt"). None, with *error in words, for a URL of another host, a malformed
// escape, an escaped NUL, or an empty path.
std::optional<std::string> pathFromFileURL(std::string_view address, std::string* error = nullptr);

// Reads a whole regular file of at most `maxBytes` bytes into *contents, never waiting on a FIFO or
// device (ns::readFile). False with *error in words ("no such file", "is a directory", "not a
// regular file", "Permission denied", "larger than N bytes", ...) otherwise.
bool readFileContents(const std::string& path, size_t maxBytes, std::string* contents, std::string* error = nullptr);

}  // namespace ns
