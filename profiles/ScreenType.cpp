#include "profiles/ScreenType.h"

#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIWindow.h"

namespace {
struct Entry {
  ScreenType type;
  const char* raw;
};
constexpr Entry kEntries[] = {
    {ScreenType::iPhones_4_4S, "iPhone 4 or iPhone 4S"},
    {ScreenType::iPhones_5_5s_5c_SE, "iPhone 5, iPhone 5s, iPhone 5c or iPhone SE"},
    {ScreenType::iPhones_6_6s_7_8, "iPhone 6, iPhone 6S, iPhone 7 or iPhone 8"},
    {ScreenType::iPhones_6Plus_6sPlus_7Plus_8Plus, "iPhone 6 Plus, iPhone 6S Plus, iPhone 7 Plus or iPhone 8 Plus"},
    {ScreenType::iPhones_11Pro_X_XS_12Mini, "iPhone X or iPhone XS or iPhone 11P Pro or iPhone 12 Mini"},
    {ScreenType::iPhone_XR_11, "iPhone XR or iPhone 11"},
    {ScreenType::iPhone_XSMax_ProMax, "iPhone XS Max or iPhone Pro Max"},
    {ScreenType::iPhone_12_Pro, "iPhone 12 or iPhone 12 Pro"},
    {ScreenType::iPhone_12_ProMax, "iPhone 12 Pro Max"},
    {ScreenType::unknown, "unknown"},
};

UIEdgeInsets keyInsets() {
  auto window = UIWindow::keyWindow();
  return window ? window->safeAreaInsets() : UIEdgeInsets{};
}
}  // namespace

std::string ScreenTypeRawValue(ScreenType type) {
  for (const auto& e : kEntries)
    if (e.type == type) return e.raw;
  return "unknown";
}

std::optional<ScreenType> ScreenTypeFromRawValue(const std::string& raw) {
  for (const auto& e : kEntries)
    if (raw == e.raw) return e.type;
  return std::nullopt;
}

ScreenType ScreenTypeForNativeHeight(double h) {
  if (h == 1136) return ScreenType::iPhones_5_5s_5c_SE;
  if (h == 1334) return ScreenType::iPhones_6_6s_7_8;
  if (h == 1792) return ScreenType::iPhone_XR_11;
  if (h == 1920 || h == 2208) return ScreenType::iPhones_6Plus_6sPlus_7Plus_8Plus;
  if (h == 2436) return ScreenType::iPhones_11Pro_X_XS_12Mini;
  if (h == 2688) return ScreenType::iPhone_XSMax_ProMax;
  if (h == 2532) return ScreenType::iPhone_12_Pro;
  if (h == 2778) return ScreenType::iPhone_12_ProMax;
  return ScreenType::unknown;
}

ScreenType UIDeviceTarn::screenType() {
  return ScreenTypeForNativeHeight(UIScreen::mainScreen().nativeBounds().size.height);
}

bool UIDeviceTarn::isNotched() { return keyInsets().bottom > 0; }
double UIDeviceTarn::topSafeArea() { return keyInsets().top; }
double UIDeviceTarn::bottomSafeArea() { return keyInsets().bottom; }
double UIDeviceTarn::leadingSafeArea() { return keyInsets().left; }
double UIDeviceTarn::trailingSafeArea() { return keyInsets().right; }
