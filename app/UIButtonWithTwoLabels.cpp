#include "app/UIButtonWithTwoLabels.h"

#include "app/UIColorExtension.h"
#include "platform/foundation/NSString.h"
#include "platform/uikit/UIScreen.h"

UIButtonWithTwoLabels::UIButtonWithTwoLabels(const CGRect& frame) : UIButton(frame) {
  if (auto image = UIImage::imageNamed("btnBackground")) {
    btnBackground_ = image->resizableImageWithCapInsets(UIEdgeInsetsMake(20, 50, 20, 50), UIImageResizingMode::Stretch);
  }
}

double UIButtonWithTwoLabels::titleInsetForScreenWidth(double width) {
  if (width <= 480) return 10;
  if (width <= 568) return 15;
  return 20;
}

void UIButtonWithTwoLabels::layoutSubviews() {
  setBackgroundImage(btnBackground_, UIControlStateNormal);
  setContentHorizontalAlignment(UIControlContentHorizontalAlignment::Left);
  // The screen's width is read on every pass, not kept.
  double left = titleInsetForScreenWidth(UIScreen::mainScreen().bounds().size.width);
  setTitleEdgeInsets(UIEdgeInsetsMake(0, left, 0, 0));
  UIButton::layoutSubviews();
}

void UIButtonWithTwoLabels::setTitle1(const std::string& title1, const std::string& title2) {
  const bool narrow = UIScreen::mainScreen().bounds().size.width <= 480;
  auto text = std::make_shared<NSAttributedString>(title1 + "\n" + title2);
  NSAttributes first;
  first.font = UIFont::fontWithName("AvenirNext-Medium", narrow ? 8.0 : 8.5);
  first.foregroundColor = UIColorExtension::colorWithHex(0xFEFEFF);
  NSAttributes second;
  second.font = UIFont::fontWithName("Avenir-Black", narrow ? 13.0 : 14.5);
  second.foregroundColor = UIColorExtension::colorWithHex(0xABE3FF);
  second.lineSpacing = -10;
  const size_t length1 = ns::utf16Length(title1);
  text->addAttributes(first, NSMakeRange(0, length1));
  // From the line break to the end, so an empty second title still styles the break.
  text->addAttributes(second, NSMakeRange(length1, ns::utf16Length(title2) + 1));
  setAttributedTitle(text, UIControlStateNormal);
}
