#pragma once
// The device: its orientation, interface idiom and names. Setting the orientation (the
// key-value "orientation" of the phone) to a portrait or landscape value turns the interface:
// the main screen's bounds follow, UIDeviceOrientationDidChangeNotification is posted, and the
// application resizes its windows to the new bounds. Main thread only.
#include <cstdint>
#include <string>

#include "platform/foundation/Value.h"

enum UIDeviceOrientation : int64_t {
  UIDeviceOrientationUnknown = 0,
  UIDeviceOrientationPortrait = 1,
  UIDeviceOrientationPortraitUpsideDown = 2,
  UIDeviceOrientationLandscapeLeft = 3,
  UIDeviceOrientationLandscapeRight = 4,
  UIDeviceOrientationFaceUp = 5,
  UIDeviceOrientationFaceDown = 6,
};

enum UIUserInterfaceIdiom : int64_t {
  UIUserInterfaceIdiomUnspecified = -1,
  UIUserInterfaceIdiomPhone = 0,
  UIUserInterfaceIdiomPad = 1,
};

inline constexpr const char* UIDeviceOrientationDidChangeNotification = "UIDeviceOrientationDidChangeNotification";

class UIDevice {
 public:
  static UIDevice& currentDevice();

  UIDeviceOrientation orientation() const { return orientation_; }
  // Values outside 0..6 are ignored.
  void setOrientation(int64_t orientation);
  // setValue:forKey: — "orientation" takes an integer number; any other key raises
  // NSUnknownKeyException, as key-value coding does.
  void setValue(const Value& value, const std::string& key);

  UIUserInterfaceIdiom userInterfaceIdiom() const { return idiom_; }

  // Back to the state of a new process, with the orientation of the main screen (tests).
  void resetForTesting();

 private:
  UIDevice();
  UIDeviceOrientation orientation_;
  UIUserInterfaceIdiom idiom_ = UIUserInterfaceIdiomPhone;
};
