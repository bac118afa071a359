#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/foundation/NSDate.h"

namespace {
// Sets an environment variable for the scope of a test and restores it.
struct ScopedEnv {
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
    tzset();
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
    tzset();
  }
  const char* name_;
  std::optional<std::string> old_;
};
}  // namespace

TEST(Date, PatternsFormatInUtcAndLocalTime) {
  const double t = 1783400645.125;  // 2026-07-07 05:04:05.125 UTC, a Tuesday
  EXPECT_EQ(ns::formatDate(t, "yyyy-MM-dd HH:mm:ss", true), "2026-07-07 05:04:05");
  EXPECT_EQ(ns::formatDate(t, "yyyy-MM-dd'T'HH:mm:ss.SSSZZZZZ", true), "2026-07-07T05:04:05.125Z");
  EXPECT_EQ(ns::formatDate(t, "EEE, d MMM yy h:mm a 'o''clock'", true), "Tue, 7 Jul 26 5:04 AM o'clock");
  ScopedEnv tz("TZ", "Asia/Kolkata");
  EXPECT_EQ(ns::formatDate(t, "HH:mm Z"), "10:34 +0530");
  EXPECT_EQ(ns::shortDateString(t), "7/7/26");
  EXPECT_EQ(ns::shortDateString(1797714000.0), "12/20/26");  // 2026-12-19 21:00 UTC is the 20th there
  EXPECT_EQ(ns::timeZoneName(), "Asia/Kolkata");
}

TEST(Date, LocaleFactsComeFromTheEnvironment) {
  ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr), language("LANGUAGE", nullptr);
  {
    ScopedEnv lang("LANG", "de_AT.UTF-8");
    EXPECT_EQ(ns::currentLocaleIdentifier(), "de_AT");
    EXPECT_EQ(ns::currentCountryCode(), "AT");
    EXPECT_EQ(ns::preferredLanguages(), std::vector<std::string>{"de-AT"});
  }
  {
    ScopedEnv lang("LANG", "C");
    EXPECT_EQ(ns::currentLocaleIdentifier(), "en_US_POSIX");
    EXPECT_EQ(ns::currentCountryCode(), "US");
  }
  {
    ScopedEnv lang("LANG", "fr_FR.UTF-8"), list("LANGUAGE", "fr_FR:en");
    EXPECT_EQ(ns::preferredLanguages(), (std::vector<std::string>{"fr-FR", "en"}));
  }
}

TEST(Date, ReferenceDateOffsetIsConsistent) {
  const double since1970 = ns::timeIntervalSince1970();
  const double sinceRef = ns::timeIntervalSinceReferenceDate();
  EXPECT_NEAR(since1970 - sinceRef, ns::kTimeIntervalSince1970AtReferenceDate, 1.0);
}
