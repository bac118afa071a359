#pragma once
#include <string>

#include "platform/uikit/UIStoryboard.h"

// The storyboard's segues. "sm_rear", "sm_front" and "sm_right" set the source container's
// children (not animated); the push segue puts its destination in front through the source's
// container, animated.
class SideMenuControllerSegueSetController : public UIStoryboardSegue {
 public:
  using UIStoryboardSegue::UIStoryboardSegue;
  void perform() override;
  // A custom segue definition to the destination scene that performs as this class.
  static UIStoryboardSegueDefinition definition(const std::string& destination);
};

class SideMenuControllerSeguePushController : public UIStoryboardSegue {
 public:
  using UIStoryboardSegue::UIStoryboardSegue;
  void perform() override;
  static UIStoryboardSegueDefinition definition(const std::string& destination);
};
