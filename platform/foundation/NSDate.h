#pragma once
// Dates and locale facts.
#include <string>
#include <vector>

namespace ns {
inline constexpr double kTimeIntervalSince1970AtReferenceDate = 978307200.0;  // 2001-01-01

double timeIntervalSince1970();          // Clock::now()
double timeIntervalSinceReferenceDate();  // since 2001-01-01 UTC

// "M/d/yy"-style short date of the en_US_POSIX locale, e.g. "12/7/26", in local time.
std::string shortDateString(double secondsSince1970);
// A date as text in a strftime-like pattern of the platform's date formatter ("yyyy-MM-dd HH:mm:ss"),
// in UTC when utc is true, else in local time.
std::string formatDate(double secondsSince1970, const std::string& pattern, bool utc = false);

std::string currentLocaleIdentifier();  // from LANG, e.g. "en_US"; "en_US_POSIX" for C/POSIX
std::string currentCountryCode();       // "US"; empty when unknown
std::vector<std::string> preferredLanguages();  // e.g. {"en-US"}
std::string timeZoneName();             // e.g. "Europe/Berlin", from TZ or /etc/timezone
}  // namespace ns
