#pragma once
// The screen class of the device, by the pixel height of the main screen's native bounds, and the
// key window's safe-area insets (UIDevice(Tarn)). The tuning screen lays itself out by the class.
// Main thread only.
#include <optional>
#include <string>

// In declaration order; "below" a class means earlier in this order.
enum class ScreenType {
  iPhones_4_4S,
  iPhones_5_5s_5c_SE,
  iPhones_6_6s_7_8,
  iPhones_6Plus_6sPlus_7Plus_8Plus,
  iPhones_11Pro_X_XS_12Mini,
  iPhone_XR_11,
  iPhone_XSMax_ProMax,
  iPhone_12_Pro,
  iPhone_12_ProMax,
  unknown,
};

// The class's description ("iPhone 12 Pro Max" ...), and the class of a description (exact text).
std::string ScreenTypeRawValue(ScreenType type);
std::optional<ScreenType> ScreenTypeFromRawValue(const std::string& raw);
// The class of a native height in pixels (exact comparison; no height gives iPhones_4_4S).
ScreenType ScreenTypeForNativeHeight(double pixels);

struct UIDeviceTarn {
  // The class of the main screen, worked out on every read.
  static ScreenType screenType();
  // The key window's insets; 0 without a key window.
  static bool isNotched();  // the bottom inset is greater than 0
  static double topSafeArea();
  static double bottomSafeArea();
  static double leadingSafeArea();   // the left edge, whatever the writing direction
  static double trailingSafeArea();  // the right edge
};
