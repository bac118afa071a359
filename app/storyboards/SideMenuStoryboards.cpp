// The layout of the side menu and the help screens, and their scenes.
//
// The side menu fills the container's right panel: the panel is 260 points wide plus 60 of
// overdraw that the front view covers while the menu is open, so the menu's content stands in a
// column against the panel's right edge: a title, the three modes and, under a rule, Help.
//
// The help screen: the page fills the screen over the analyser's background and keeps a column of
// 84 points clear at the right (help.css), where the menu button stands as on the analyser screen
// (top right) and the rate button at the bottom. The dB chart page: the
// page over the same background with a close button at the top right.
#include "app/storyboards/SideMenuStoryboards.h"

#include "app/HelpVC.h"
#include "app/RightMenuVC.h"
#include "app/SideMenuController.h"
#include "app/SideMenuSegues.h"
#include "app/UIColorExtension.h"
#include "app/dbaHelpVC.h"
#include "app/storyboards/StoryboardSupport.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/UILabel.h"
#include "platform/uikit/UIScreen.h"

namespace {

using storyboard::constrained;
using storyboard::roundButton;

using C = NSLayoutConstraint;

constexpr double kMenuColumn = 260;   // the open panel's width
constexpr double kMenuInset = 16;     // the column's margins
constexpr double kEntryHeight = 44;
constexpr double kEntryGap = 4;
constexpr double kRoundButton = 44;   // as on the analyser screen
constexpr double kButtonColumn = 50;

std::shared_ptr<UIButton> menuEntry(const char* icon) {
  auto button = std::make_shared<UIButton>();
  button->setImage(UIImage::imageNamed(icon), UIControlStateNormal);
  button->setImage(UIImage::imageNamed(std::string(icon) + "Selected"), UIControlStateSelected);
  auto plate = UIImage::imageNamed("menuItemSelected");
  if (plate) plate = plate->resizableImageWithCapInsets({20, 12, 20, 12}, UIImageResizingMode::Stretch);
  button->setBackgroundImage(plate, UIControlStateSelected);
  button->setTitleColor(UIColorExtension::colorWithHex(0xDCDAF5), UIControlStateNormal);
  button->setTitleColor(UIColorExtension::colorWithHex(0xFFFFFF), UIControlStateSelected);
  button->titleLabel()->setFont(UIFont::fontWithName("Avenir-Medium", 16));
  button->setContentEdgeInsets({0, 16, 0, 8});
  button->setTitleEdgeInsets({0, 14, 0, 0});
  return button;
}

void buildRightMenuView(UIViewController& controller) {
  auto& vc = dynamic_cast<RightMenuVC&>(controller);
  auto vcRef = std::static_pointer_cast<RightMenuVC>(vc.shared_from_this());
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, kMenuColumn + 60, UIScreen::mainScreen().bounds().size.height));
  root->setBackgroundColor(UIColorExtension::colorWithHex(0x141232));
  root->layer()->setContents(UIImage::imageNamed("menuBackground"));
  vc.setView(root);

  auto title = constrained(root, std::make_shared<UILabel>());
  title->setText("Spectrum Analyser");
  title->setFont(UIFont::fontWithName("Avenir-Heavy", 17));
  title->setTextColor(UIColor::whiteColor());
  auto section = constrained(root, std::make_shared<UILabel>());
  section->setText("MODES");
  section->setFont(UIFont::fontWithName("Avenir-Medium", 10));
  section->setTextColor(UIColorExtension::colorWithHex(0x8C8AB8));
  C::activateConstraints({
      title->trailingAnchor().constraintEqualToAnchor(root->trailingAnchor(), -kMenuInset),
      title->widthAnchor().constraintEqualToConstant(kMenuColumn - 2 * kMenuInset - 4),
      title->topAnchor().constraintEqualToAnchor(root->topAnchor(), 16),
      title->heightAnchor().constraintEqualToConstant(24),
      section->leadingAnchor().constraintEqualToAnchor(title->leadingAnchor()),
      section->trailingAnchor().constraintEqualToAnchor(title->trailingAnchor()),
      section->topAnchor().constraintEqualToAnchor(title->bottomAnchor(), 10),
      section->heightAnchor().constraintEqualToConstant(14),
  });

  struct Entry {
    const char* icon;
    std::shared_ptr<UIButton>* slot;
    void (RightMenuVC::*action)(const std::shared_ptr<UIButton>&);
  };
  std::shared_ptr<UIButton> spectrograph;
  const Entry entries[] = {{"menuFFT", &vc.btnFFT, &RightMenuVC::fftPlotTap},
                           {"menuOctave", &vc.btnOctave, &RightMenuVC::octaveTap},
                           {"menuSpectrograph", &spectrograph, &RightMenuVC::spectrographTap}};
  UIViewRef above = section;
  double gap = 6;
  for (const auto& entry : entries) {
    auto button = constrained(root, menuEntry(entry.icon));
    *entry.slot = button;
    button->addTarget(vcRef, entry.action, UIControlEventTouchUpInside);
    C::activateConstraints({
        button->trailingAnchor().constraintEqualToAnchor(root->trailingAnchor(), -kMenuInset + 4),
        button->widthAnchor().constraintEqualToConstant(kMenuColumn - 2 * kMenuInset + 8),
        button->topAnchor().constraintEqualToAnchor(above->bottomAnchor(), gap),
        button->heightAnchor().constraintEqualToConstant(kEntryHeight),
    });
    above = button;
    gap = kEntryGap;
  }
  vc.btnSpectrograph = spectrograph;

  auto rule = constrained(root, std::make_shared<UIView>());
  rule->setBackgroundColor(UIColorExtension::colorWithHexAndAlpha(0x6E6BD8, 0.45f));
  auto help = constrained(root, menuEntry("menuHelp"));
  vc.btnHelp = help;
  help->addTarget(vcRef, &RightMenuVC::helpTap, UIControlEventTouchUpInside);
  C::activateConstraints({
      rule->leadingAnchor().constraintEqualToAnchor(title->leadingAnchor()),
      rule->trailingAnchor().constraintEqualToAnchor(title->trailingAnchor()),
      rule->topAnchor().constraintEqualToAnchor(above->bottomAnchor(), 10),
      rule->heightAnchor().constraintEqualToConstant(1),
      help->trailingAnchor().constraintEqualToAnchor(above->trailingAnchor()),
      help->widthAnchor().constraintEqualToAnchor(above->widthAnchor()),
      help->topAnchor().constraintEqualToAnchor(rule->bottomAnchor(), 10),
      help->heightAnchor().constraintEqualToConstant(kEntryHeight),
  });
}

std::shared_ptr<UIView> screenBackground() {
  auto root = std::make_shared<UIView>(UIScreen::mainScreen().bounds());
  root->setBackgroundColor(UIColorExtension::colorWithHex(0x0B0A1A));
  root->layer()->setContents(UIImage::imageNamed("mainBackground"));
  return root;
}

void buildHelpView(UIViewController& controller) {
  auto& vc = dynamic_cast<HelpVC&>(controller);
  auto vcRef = std::static_pointer_cast<HelpVC>(vc.shared_from_this());
  auto root = screenBackground();
  vc.setView(root);

  auto web = std::make_shared<UIWebView>(root->bounds());
  web->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  root->addSubview(web);
  vc.webView = web;

  auto menu = constrained(root, roundButton("btnMenu"));
  vc.btnMenu = menu;
  menu->addTarget(vcRef, &HelpVC::btnMenuTap, UIControlEventTouchUpInside);
  auto rate = constrained(root, std::make_shared<UIButton>());
  vc.btnRateUs = rate;
  rate->setBackgroundColor(UIColorExtension::colorWithHexAndAlpha(0x4F4DB8, 0.9f));
  rate->setTitleColor(UIColorExtension::colorWithHex(0xFEFEFF), UIControlStateNormal);
  rate->titleLabel()->setFont(UIFont::fontWithName("Avenir-Heavy", 11));
  rate->titleLabel()->setAdjustsFontSizeToFitWidth(true);
  rate->titleLabel()->setMinimumScaleFactor(0.7);
  rate->addTarget(vcRef, &HelpVC::btnRateUsTap, UIControlEventTouchUpInside);
  auto feedback = constrained(root, std::make_shared<UIButton>());
  vc.btnFeedback = feedback;
  feedback->setBackgroundColor(UIColorExtension::colorWithHexAndAlpha(0x4F4DB8, 0.9f));
  feedback->addTarget(vcRef, &HelpVC::btnFeedbackTap, UIControlEventTouchUpInside);
  C::activateConstraints({
      menu->trailingAnchor().constraintEqualToAnchor(root->trailingAnchor(), -(kButtonColumn - kRoundButton) / 2),
      menu->topAnchor().constraintEqualToAnchor(root->topAnchor(), 6),
      menu->widthAnchor().constraintEqualToConstant(kRoundButton),
      menu->heightAnchor().constraintEqualToConstant(kRoundButton),
      rate->trailingAnchor().constraintEqualToAnchor(root->trailingAnchor(), -6),
      rate->bottomAnchor().constraintEqualToAnchor(root->bottomAnchor(), -10),
      rate->widthAnchor().constraintEqualToConstant(72),
      rate->heightAnchor().constraintEqualToConstant(28),
      feedback->trailingAnchor().constraintEqualToAnchor(rate->trailingAnchor()),
      feedback->bottomAnchor().constraintEqualToAnchor(rate->topAnchor(), -6),
      feedback->widthAnchor().constraintEqualToAnchor(rate->widthAnchor()),
      feedback->heightAnchor().constraintEqualToAnchor(rate->heightAnchor()),
  });
}

void buildDBAHelpView(UIViewController& controller) {
  auto& vc = dynamic_cast<dbaHelpVC&>(controller);
  auto vcRef = std::static_pointer_cast<dbaHelpVC>(vc.shared_from_this());
  auto root = screenBackground();
  vc.setView(root);
  auto web = std::make_shared<UIWebView>(root->bounds());
  web->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  root->addSubview(web);
  vc.web = web;
  auto close = constrained(root, roundButton("btnClose"));
  close->addTarget(vcRef, &dbaHelpVC::closeView, UIControlEventTouchUpInside);
  C::activateConstraints({
      close->trailingAnchor().constraintEqualToAnchor(root->trailingAnchor(), -(kButtonColumn - kRoundButton) / 2),
      close->topAnchor().constraintEqualToAnchor(root->topAnchor(), 6),
      close->widthAnchor().constraintEqualToConstant(kRoundButton),
      close->heightAnchor().constraintEqualToConstant(kRoundButton),
  });
}

}  // namespace

void addSideMenuScenes(UIStoryboardDefinition& main, const std::string& frontScene) {
  main.initialScene = "SideMenuController";
  auto& container = main.scenes["SideMenuController"];
  container.makeController = [](UIStoryboard&) { return std::make_shared<SideMenuController>(); };
  container.segues["sm_front"] = SideMenuControllerSegueSetController::definition(frontScene);
  container.segues["sm_right"] = SideMenuControllerSegueSetController::definition("rightMenu");
  auto& menu = main.scenes["rightMenu"];
  menu.makeController = [](UIStoryboard&) { return std::make_shared<RightMenuVC>(); };
  menu.buildView = buildRightMenuView;
}

void registerHelpStoryboards() {
  UIStoryboard::registerStoryboard("HelpVC", [] {
    UIStoryboardDefinition d;
    d.initialScene = "help";
    d.scenes["help"] = {[](UIStoryboard&) { return std::make_shared<HelpVC>(); }, buildHelpView, {}};
    return d;
  });
  UIStoryboard::registerStoryboard("dbaHelpVC", [] {
    UIStoryboardDefinition d;
    d.initialScene = "dbaHelp";
    d.scenes["dbaHelp"] = {[](UIStoryboard&) { return std::make_shared<dbaHelpVC>(); }, buildDBAHelpView, {}};
    return d;
  });
}
