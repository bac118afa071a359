#pragma once
// The device and app facts a remote-configuration fetch sends in its request body, and the device
// context whose change lets a fetch bypass the minimum interval and throttling. Free functions
// over the main bundle's Info values, the locale, the preferred languages, the time zone and the
// OS version; none keeps state, any thread may call them.
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Value.h"

// Keys of the device context.
inline constexpr const char* RCNDeviceContextKeyVersion = "app_version";
inline constexpr const char* RCNDeviceContextKeyBuild = "app_build";
inline constexpr const char* RCNDeviceContextKeyOSVersion = "os_version";
inline constexpr const char* RCNDeviceContextKeyDeviceLocale = "device_locale";
inline constexpr const char* RCNDeviceContextKeyGMPProjectIdentifier = "GMP_project_Identifier";

// The main bundle's "CFBundleShortVersionString" / "CFBundleVersion", or nothing.
std::optional<std::string> ZIRRemoteConfigAppVersion();
std::optional<std::string> ZIRRemoteConfigAppBuild();
// The fixed text "ZIRRemoteConfig_VERSION".
std::string ZIRRemoteConfigSDKVersion();
// The current locale's country code in lower case, or nothing when the locale names none.
std::optional<std::string> ZIRRemoteConfigDeviceCountry();
// The supported locales by language key, in the map's written order (48 keys, 187 identifiers).
std::vector<std::pair<std::string, std::vector<std::string>>> ZIRRemoteConfigLocaleMap();
// Every identifier of the map, in order, duplicates kept.
std::vector<std::string> ZIRRemoteConfigSupportedLocales();
// The best supported locale for the user's preferred languages; "en" when none matches.
std::string ZIRRemoteConfigDeviceLocale();
// The first of `available` that best matches the preferences, tried in order; empty when none does.
std::vector<std::string> ZIRPreferredLocalizations(const std::vector<std::string>& available,
                                                   const std::vector<std::string>& preferences);
// The system time zone's name, such as "Europe/Berlin".
std::string ZIRRemoteConfigTimeZoneName();
// A new device context; "GMP_project_Identifier" only when an app ID is given.
Value ZIRRemoteConfigDeviceContext(const std::optional<std::string>& deruruAppID);
// Whether the stored context differs from the current one (an empty one always does).
bool ZIRRemoteConfigDeviceContextChanged(const Value& deviceContext, const std::optional<std::string>& deruruAppID);
