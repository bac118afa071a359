#include "platform/foundation/NSDate.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string_view>
#include <unistd.h>

#include "platform/foundation/Clock.h"

namespace ns {

namespace {

constexpr const char* kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kWeekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

struct Broken {
  std::tm tm{};
  double fraction = 0;  // of the second, [0, 1)
  long offsetSeconds = 0;
};

Broken breakDown(double seconds, bool utc) {
  Broken b;
  double whole = std::floor(seconds);
  b.fraction = seconds - whole;
  auto t = static_cast<std::time_t>(whole);
  if (utc) {
    gmtime_r(&t, &b.tm);
  } else {
    localtime_r(&t, &b.tm);
    b.offsetSeconds = b.tm.tm_gmtoff;
  }
  return b;
}

std::string padded(long v, int width) {
  std::string s = std::to_string(v < 0 ? -v : v);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  return v < 0 ? "-" + s : s;
}

std::string offsetText(long offset, int count) {
  char sign = offset < 0 ? '-' : '+';
  long a = offset < 0 ? -offset : offset;
  long h = a / 3600, m = (a % 3600) / 60;
  if (count >= 5) {
    if (offset == 0) return "Z";
    return std::string(1, sign).append(padded(h, 2)).append(":").append(padded(m, 2));
  }
  if (count == 4) return std::string("GMT").append(1, sign).append(padded(h, 2)).append(":").append(padded(m, 2));
  return std::string(1, sign).append(padded(h, 2)).append(padded(m, 2));
}

std::string field(char c, int count, const Broken& b) {
  const std::tm& tm = b.tm;
  switch (c) {
    case 'y': {
      long year = tm.tm_year + 1900L;
      if (count == 2) return padded(year % 100, 2);
      return padded(year, count);
    }
    case 'M':
    case 'L':
      if (count >= 4) return kMonths[tm.tm_mon];
      if (count == 3) return std::string(kMonths[tm.tm_mon]).substr(0, 3);
      return padded(tm.tm_mon + 1, count);
    case 'd': return padded(tm.tm_mday, count);
    case 'D': return padded(tm.tm_yday + 1, count);
    case 'E':
      if (count >= 4) return kWeekdays[tm.tm_wday];
      return std::string(kWeekdays[tm.tm_wday]).substr(0, 3);
    case 'a': return tm.tm_hour < 12 ? "AM" : "PM";
    case 'H': return padded(tm.tm_hour, count);
    case 'k': return padded(tm.tm_hour == 0 ? 24 : tm.tm_hour, count);
    case 'h': {
      int h = tm.tm_hour % 12;
      return padded(h == 0 ? 12 : h, count);
    }
    case 'K': return padded(tm.tm_hour % 12, count);
    case 'm': return padded(tm.tm_min, count);
    case 's': return padded(tm.tm_sec, count);
    case 'S': {
      // Fractional seconds: as many digits as letters, truncated.
      std::string digits;
      double f = b.fraction;
      for (int i = 0; i < count; ++i) {
        f *= 10;
        int d = static_cast<int>(f);
        if (d > 9) d = 9;
        digits += static_cast<char>('0' + d);
        f -= d;
      }
      return digits;
    }
    case 'Z':
    case 'x':
    case 'X': return offsetText(b.offsetSeconds, c == 'Z' ? count : (count >= 3 ? 5 : 1));
    case 'z': return tm.tm_zone ? tm.tm_zone : "UTC";
    default: return std::string(static_cast<size_t>(count), c);
  }
}

std::string localeFromEnvironment() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) return v;
  }
  return "";
}

// "en_US.UTF-8@euro" -> "en_US"
std::string stripLocale(std::string_view raw) {
  size_t cut = raw.find_first_of(".@");
  return std::string(raw.substr(0, cut));
}

}  // namespace

double timeIntervalSince1970() { return Clock::now(); }

double timeIntervalSinceReferenceDate() { return Clock::now() - kTimeIntervalSince1970AtReferenceDate; }

std::string shortDateString(double secondsSince1970) { return formatDate(secondsSince1970, "M/d/yy", false); }

std::string formatDate(double secondsSince1970, const std::string& pattern, bool utc) {
  // A date from a file or an answer may lie beyond what the calendar functions can break down
  // (their year is an int): such dates have no text, as non-finite ones.
  constexpr double kLargestDate = 1e15;  // about 31 million years either side of 1970
  if (!std::isfinite(secondsSince1970) || std::fabs(secondsSince1970) > kLargestDate) return "";
  const Broken b = breakDown(secondsSince1970, utc);
  std::string out;
  size_t i = 0;
  while (i < pattern.size()) {
    char c = pattern[i];
    if (c == '\'') {
      // Quoted literal; '' is a single quote.
      if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
        out += '\'';
        i += 2;
        continue;
      }
      ++i;
      while (i < pattern.size()) {
        if (pattern[i] == '\'') {
          if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
            out += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        out += pattern[i++];
      }
      continue;
    }
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      int count = 0;
      while (i < pattern.size() && pattern[i] == c) {
        ++count;
        ++i;
      }
      out += field(c, count, b);
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

std::string currentLocaleIdentifier() {
  std::string id = stripLocale(localeFromEnvironment());
  if (id.empty() || id == "C" || id == "POSIX") return "en_US_POSIX";
  return id;
}

std::string currentCountryCode() {
  std::string id = currentLocaleIdentifier();
  size_t us = id.find('_');
  if (us == std::string::npos) return "";
  std::string rest = id.substr(us + 1);
  size_t more = rest.find('_');
  if (more != std::string::npos) rest = rest.substr(0, more);
  if (rest.size() != 2) return "";
  return rest;
}

std::vector<std::string> preferredLanguages() {
  std::vector<std::string> out;
  auto add = [&](std::string_view raw) {
    std::string id = stripLocale(raw);
    if (id.empty() || id == "C" || id == "POSIX") id = "en_US";
    for (char& c : id)
      if (c == '_') c = '-';
    for (const auto& existing : out)
      if (existing == id) return;
    out.push_back(id);
  };
  const char* language = std::getenv("LANGUAGE");
  std::string locale = localeFromEnvironment();
  if (language && *language && locale != "C" && locale != "POSIX") {
    std::string_view list(language);
    while (!list.empty()) {
      size_t colon = list.find(':');
      std::string_view item = list.substr(0, colon);
      if (!item.empty()) add(item);
      if (colon == std::string_view::npos) break;
      list.remove_prefix(colon + 1);
    }
  }
  if (out.empty()) add(locale);
  return out;
}

std::string timeZoneName() {
  if (const char* tz = std::getenv("TZ"); tz && *tz) {
    std::string name = tz;
    if (name[0] == ':') name.erase(0, 1);
    const std::string marker = "zoneinfo/";
    if (size_t at = name.find(marker); at != std::string::npos) name = name.substr(at + marker.size());
    if (!name.empty()) return name;
  }
  std::ifstream in("/etc/timezone");
  std::string line;
  if (in && std::getline(in, line)) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (!line.empty()) return line;
  }
  char buf[4096];
  ssize_t n = ::readlink("/etc/localtime", buf, sizeof buf - 1);
  if (n > 0) {
    std::string target(buf, static_cast<size_t>(n));
    const std::string marker = "zoneinfo/";
    if (size_t at = target.find(marker); at != std::string::npos) return target.substr(at + marker.size());
  }
  return "UTC";
}

}  // namespace ns
