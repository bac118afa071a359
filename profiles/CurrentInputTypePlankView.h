#pragma once
// The current-input bar of the analyser screen: a small button that shows the input the enabled
// profile belongs to (its short title, upper-cased) with the microphone logo at its right end.
// The analyser screen makes it hidden, places it, colours its background and makes it open the
// profile list; the bar keeps its title up to date itself: every profile change unhides it and,
// when the change names a profile, shows that profile's input.
//
// The phone mirrors the button (and mirrors its label and image back) to put the image at the
// right; this bar draws that arrangement directly, title at the left and image at the right, both
// readable. Main thread only.
#include <memory>

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/uikit/UIButton.h"

class CurrentInputTypePlankView : public UIButton {
 public:
  // initWithFrame: — the look (corner radius 4, alpha 0.7, "GothamPro-Medium" 14 white title,
  // "micLogo" image tinted white, content insets 0/8/0/8, title insets 2/0/0/0) and the
  // subscription to the profile service's change notification.
  static std::shared_ptr<CurrentInputTypePlankView> initWithFrame(const CGRect& frame);
  // initWithCoder: — the base button only: no look, no subscription.
  CurrentInputTypePlankView() = default;
  explicit CurrentInputTypePlankView(const CGRect& frame) : UIButton(frame) {}

  // updateProfileTitle: — unhides the bar; a "newProfile" profile in the notification becomes the
  // title (its input's short title, upper-cased).
  void updateProfileTitle(const NSNotification& notification);

  void drawRect(const CGRect& rect) override;
  CGSize intrinsicContentSize() const override;

 private:
  NSObserverTokenRef profileObserver_;
};
