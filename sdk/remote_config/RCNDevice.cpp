#include "sdk/remote_config/RCNDevice.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSString.h"
#include "sdk/utilities/ZODAppEnvironmentUtil.h"

namespace {

std::optional<std::string> infoText(const char* key) {
  auto v = NSBundle::mainBundle().objectForInfoDictionaryKey(key);
  if (v && v->is_string()) return v->get<std::string>();
  return std::nullopt;
}

// A locale identifier in one form: hyphens, lower case.
std::string normalisedLocale(const std::string& identifier) {
  std::string out = ns::lowercase(identifier);
  for (char& c : out) {
    if (c == '_') c = '-';
  }
  return out;
}

// The stored context's text for a key, nullopt when absent or not text (and so equal to nothing).
std::optional<std::string> contextText(const Value& context, const char* key) {
  if (!context.is_object()) return std::nullopt;
  auto it = context.find(key);
  if (it == context.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

bool differs(const std::optional<std::string>& stored, const std::optional<std::string>& current) {
  return !stored || !current || *stored != *current;
}

}  // namespace

std::optional<std::string> ZIRRemoteConfigAppVersion() { return infoText("CFBundleShortVersionString"); }

std::optional<std::string> ZIRRemoteConfigAppBuild() { return infoText("CFBundleVersion"); }

std::string ZIRRemoteConfigSDKVersion() { return "ZIRRemoteConfig_VERSION"; }

std::optional<std::string> ZIRRemoteConfigDeviceCountry() {
  const std::string country = ns::currentCountryCode();
  if (country.empty()) return std::nullopt;
  return ns::lowercase(country);
}

std::vector<std::pair<std::string, std::vector<std::string>>> ZIRRemoteConfigLocaleMap() {
  return {
      {"sq", {"sq_AL"}},
      {"be", {"be_BY"}},
      {"bg", {"bg_BG"}},
      {"ca", {"ca", "ca_ES"}},
      {"hr", {"hr", "hr_HR"}},
      {"cs", {"cs", "cs_CZ"}},
      {"da", {"da", "da_DK"}},
      {"et", {"et_EE"}},
      {"fi", {"fi", "fi_FI"}},
      {"he", {"he", "iw_IL"}},
      {"hi", {"hi_IN"}},
      {"hu", {"hu", "hu_HU"}},
      {"is", {"is_IS"}},
      {"id", {"id", "in_ID", "id_ID"}},
      {"ga", {"ga_IE"}},
      {"ko", {"ko", "ko_KR", "ko-KR"}},
      {"lv", {"lv_LV"}},
      {"lt", {"lt_LT"}},
      {"mk", {"mk_MK"}},
      {"ms", {"ms_MY"}},
      {"mt", {"mt_MT"}},
      {"pl", {"pl", "pl_PL", "pl-PL"}},
      {"ro", {"ro", "ro_RO"}},
      {"ru", {"ru_RU", "ru", "ru_BY", "ru_KZ", "ru-RU"}},
      {"sk", {"sk", "sk_SK"}},
      {"sl", {"sl_SI"}},
      {"sv", {"sv", "sv_SE", "sv-SE"}},
      {"tr", {"tr", "tr-TR", "tr_TR"}},
      {"uk", {"uk", "uk_UA"}},
      {"vi", {"vi", "vi_VN"}},
      {"ar",
       {"ar", "ar_DZ", "ar_BH", "ar_EG", "ar_IQ", "ar_JO", "ar_KW", "ar_LB", "ar_LY", "ar_MA", "ar_OM", "ar_QA", "ar_SA",
        "ar_SD", "ar_SY", "ar_TN", "ar_AE", "ar_YE", "ar_GB", "ar-IQ", "ar_US"}},
      {"zh_Hans", {"zh_CN", "zh_SG", "zh-Hans"}},
      {"zh_Hant", {"zh_TW", "zh-Hant", "zh-TW"}},
      {"nl", {"nl", "nl_BE", "nl_NL", "nl-NL"}},
      {"en",
       {"en",    "en_AU", "en_CA", "en_IN", "en_IE", "en_MT", "en_NZ", "en_PH", "en_SG", "en_ZA",
        "en_GB", "en_US", "en_AE", "en-AE", "en_AS", "en-AU", "en_BD", "en-CA", "en_EG", "en_ES",
        "en_GB", "en-GB", "en_HK", "en_ID", "en-IN", "en_NG", "en-PH", "en_PK", "en-SG", "en-US"}},
      {"fr", {"fr", "fr_BE", "fr_CA", "fr_FR", "fr_LU", "fr_CH", "fr-CA", "fr-FR", "fr_MA"}},
      {"de", {"de", "de_AT", "de_DE", "de_LU", "de_CH", "de-DE"}},
      {"el", {"el", "el_CY", "el_GR"}},
      {"it", {"it", "it_IT", "it_CH", "it-IT"}},
      {"ja", {"ja", "ja_JP", "ja_JP_JP", "ja-JP"}},
      {"no", {"nb", "no_NO", "no_NO_NY", "nb_NO"}},
      {"pt_BR", {"pt_BR", "pt-BR"}},
      {"pt_PT", {"pt", "pt_PT", "pt-PT"}},
      {"sr", {"sr_BA", "sr_ME", "sr_RS", "sr_Latn_BA", "sr_Latn_ME", "sr_Latn_RS"}},
      {"es_ES", {"es", "es_ES", "es-ES"}},
      {"es_MX", {"es-MX", "es_MX", "es_US", "es-US"}},
      {"es_419",
       {"es_AR", "es_BO", "es_CL", "es_CO", "es_CR", "es_DO", "es_EC", "es_SV", "es_GT", "es_HN", "es_NI", "es_PA",
        "es_PY", "es_PE", "es_PR", "es_UY", "es_VE", "es-AR", "es-CL", "es-CO"}},
      {"th", {"th", "th_TH", "th_TH_TH"}},
  };
}

std::vector<std::string> ZIRRemoteConfigSupportedLocales() {
  std::vector<std::string> all;
  for (const auto& [key, identifiers] : ZIRRemoteConfigLocaleMap()) {
    all.insert(all.end(), identifiers.begin(), identifiers.end());
  }
  return all;
}

std::vector<std::string> ZIRPreferredLocalizations(const std::vector<std::string>& available,
                                                   const std::vector<std::string>& preferences) {
  for (const auto& preference : preferences) {
    // The preference itself, then with its last subtag dropped in turn ("zh-hans-cn", "zh-hans", "zh").
    std::string wanted = normalisedLocale(preference);
    while (!wanted.empty()) {
      for (const auto& identifier : available) {
        if (normalisedLocale(identifier) == wanted) return {identifier};
      }
      const size_t dash = wanted.rfind('-');
      if (dash == std::string::npos) break;
      wanted.erase(dash);
    }
  }
  return {};
}

std::string ZIRRemoteConfigDeviceLocale() {
  auto matches = ZIRPreferredLocalizations(ZIRRemoteConfigSupportedLocales(), ns::preferredLanguages());
  return matches.empty() ? "en" : matches.front();
}

std::string ZIRRemoteConfigTimeZoneName() { return ns::timeZoneName(); }

Value ZIRRemoteConfigDeviceContext(const std::optional<std::string>& deruruAppID) {
  Value context = Value::object();
  if (auto version = ZIRRemoteConfigAppVersion()) context[RCNDeviceContextKeyVersion] = *version;
  if (auto build = ZIRRemoteConfigAppBuild()) context[RCNDeviceContextKeyBuild] = *build;
  context[RCNDeviceContextKeyOSVersion] = ZODAppEnvironmentUtil::systemVersion();
  context[RCNDeviceContextKeyDeviceLocale] = ZIRRemoteConfigDeviceLocale();
  if (deruruAppID) context[RCNDeviceContextKeyGMPProjectIdentifier] = *deruruAppID;
  return context;
}

bool ZIRRemoteConfigDeviceContextChanged(const Value& deviceContext, const std::optional<std::string>& deruruAppID) {
  if (differs(contextText(deviceContext, RCNDeviceContextKeyVersion), ZIRRemoteConfigAppVersion())) return true;
  if (differs(contextText(deviceContext, RCNDeviceContextKeyBuild), ZIRRemoteConfigAppBuild())) return true;
  if (differs(contextText(deviceContext, RCNDeviceContextKeyOSVersion), ZODAppEnvironmentUtil::systemVersion())) {
    return true;
  }
  if (differs(contextText(deviceContext, RCNDeviceContextKeyDeviceLocale), ZIRRemoteConfigDeviceLocale())) return true;
  if (!deviceContext.is_object() || !deviceContext.contains(RCNDeviceContextKeyGMPProjectIdentifier)) return false;
  return contextText(deviceContext, RCNDeviceContextKeyGMPProjectIdentifier) != deruruAppID;
}
