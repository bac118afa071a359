#pragma once
// The help screen: the help page (the bundle page named by the localised string "helppage") in a
// web view, a menu button that opens and closes the side menu, and a rate button. It is made once
// at launch from the storyboard "HelpVC" and put in front by the side menu's "Help"; its page
// loads once, when its view loads. The rate and feedback buttons do nothing (the feedback one is
// never shown): there is no store or mail service to hand them to. Main thread only.
#include <memory>

#include "platform/uikit/UIButton.h"
#include "platform/uikit/UIViewController.h"
#include "platform/uikit/UIWebView.h"

class HelpVC : public UIViewController {
 public:
  // ---- Outlets ----
  std::shared_ptr<UIButton> btnRateUs;
  std::shared_ptr<UIButton> btnFeedback;
  std::shared_ptr<UIButton> btnMenu;
  std::shared_ptr<UIWebView> webView;

  void viewDidLoad() override;

  // ---- Actions ----
  void btnMenuTap(const std::shared_ptr<UIButton>& sender);
  void btnRateUsTap(const std::shared_ptr<UIButton>& sender);
  void btnRateTap() {}
  void btnFeedbackTap(const std::shared_ptr<UIButton>& sender) {}
};
