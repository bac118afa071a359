#pragma once
// Log lines of the database's persistence and connection layers, through the database's log gate
// (debug lines only while database logging is on) and the SDK logger with the service tag
// "[Zirezize/Database]". Errors are written whatever the gate says: they report lost or refused
// data that a user must be able to find.
namespace fdblog {

inline constexpr const char* kService = "[Zirezize/Database]";

void debug(const char* code, const char* format, ...) __attribute__((format(printf, 2, 3)));
void warning(const char* code, const char* format, ...) __attribute__((format(printf, 2, 3)));
void error(const char* code, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace fdblog
