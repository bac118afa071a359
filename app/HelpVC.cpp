#include "app/HelpVC.h"

#include "app/SideMenuController.h"
#include "platform/foundation/NSBundle.h"

void HelpVC::viewDidLoad() {
  UIViewController::viewDidLoad();
  for (const auto& [button, title] : {std::pair{btnRateUs, "Rate Us"}, std::pair{btnFeedback, "Feedback"}}) {
    if (!button) continue;
    button->layer()->setCornerRadius(14.0);
    button->setClipsToBounds(true);
    const std::string text = NSLocalizedString(title);
    button->setTitle(text, UIControlStateNormal);
    button->setTitle(text, UIControlStateSelected);
  }
  webView->setBackgroundColor(UIColor::clearColor());
  webView->setOpaque(false);
  webView->loadRequest(NSURLRequest(NSLocalizedString("helppage")));
  if (btnFeedback) btnFeedback->setHidden(true);
}

void HelpVC::btnMenuTap(const std::shared_ptr<UIButton>&) {
  if (auto menu = sideMenuController(*this)) menu->rightPanelToggleAnimated(true);
}

void HelpVC::btnRateUsTap(const std::shared_ptr<UIButton>&) { btnRateTap(); }
