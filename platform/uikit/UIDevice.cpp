#include "platform/uikit/UIDevice.h"

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/uikit/UIScreen.h"

UIDevice::UIDevice() { resetForTesting(); }

UIDevice& UIDevice::currentDevice() {
  static UIDevice device;
  return device;
}

void UIDevice::resetForTesting() {
  orientation_ = UIScreen::mainScreen().isLandscape() ? UIDeviceOrientationLandscapeRight : UIDeviceOrientationPortrait;
  idiom_ = UIUserInterfaceIdiomPhone;
}

void UIDevice::setOrientation(int64_t orientation) {
  if (orientation < UIDeviceOrientationUnknown || orientation > UIDeviceOrientationFaceDown) return;
  orientation_ = static_cast<UIDeviceOrientation>(orientation);
  // Only the four upright orientations turn the interface; face up or down keep it as it is.
  if (orientation == UIDeviceOrientationLandscapeLeft || orientation == UIDeviceOrientationLandscapeRight) {
    UIScreen::mainScreen().setInterfaceLandscape(true);
  } else if (orientation == UIDeviceOrientationPortrait || orientation == UIDeviceOrientationPortraitUpsideDown) {
    UIScreen::mainScreen().setInterfaceLandscape(false);
  }
  NSNotificationCenter::defaultCenter().postNotificationName(UIDeviceOrientationDidChangeNotification, this);
}

void UIDevice::setValue(const Value& value, const std::string& key) {
  if (key != "orientation") {
    NSException::raise("NSUnknownKeyException", "[UIDevice setValue:forUndefinedKey:]: this class is not key value "
                                                "coding-compliant for the key %s.", key.c_str());
  }
  if (value.is_number_integer() || value.is_number_unsigned()) {
    setOrientation(value.get<int64_t>());
  } else if (value.is_number_float()) {
    double d = value.get<double>();
    if (d >= 0 && d <= 6) setOrientation(static_cast<int64_t>(d));  // NaN fails both tests
  } else if (value.is_boolean()) {
    setOrientation(value.get<bool>() ? 1 : 0);
  } else {
    NSException::raise(NSInvalidArgumentException, "orientation must be a number");
  }
}
