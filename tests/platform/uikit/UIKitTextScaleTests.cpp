// Text measured at the scale it is drawn at: labels, button titles and the navigation bar's title on
// the reference screen (two pixels a point) hold the whole of the text they draw, whatever the text
// holds: CJK characters (glyphs where a CJK font is installed, boxes where none is), an emoji and a
// character no font has (a box on every machine), whose widths at a scale of 2 are not those at 1.
// Each check draws the same attributed string unclipped into a large bitmap at a scale of 2 and
// compares its ink with the ink of the view as the compositor renders it.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "platform/uikit/UIButton.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UILabel.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIWindow.h"
#include "tests/support/TextInk.h"

namespace {

// "a中文z中🦋", U+10FFFD (a private-use character no font has), "b".
const std::string kMixed = "a\xE4\xB8\xAD\xE6\x96\x87z\xE4\xB8\xAD\xF0\x9F\xA6\x8B\xF4\x8F\xBF\xBD" "b";

NSAttributedString whiteText(const std::string& text, const UIFontRef& font) {
  NSAttributes a;
  a.font = font;
  a.foregroundColor = UIColor::whiteColor();
  return NSAttributedString(text, a);
}

// The width of the text's line as laid out in a context at the scale (points).
double widthDrawnAt(const NSAttributedString& text, double scale) {
  auto bitmap = CGBitmapContext::create(1, 1, scale);
  return text.size(0, bitmap->context()).width;
}

class TextAtTheScreensScale : public ::testing::Test {
 protected:
  void SetUp() override { UIScreen::mainScreen().configure({568, 320}, 2); }

  // The ink of a view rendered on its own (transparent where it draws nothing), in pixels.
  static textink::Ink renderedInk(const UIViewRef& view) {
    auto image = UICompositor::render(view, 2);
    if (!image) return {};
    return textink::inkIn(*image, 0, 0, image->width(), image->height(), textink::opaqueInk);
  }
};

TEST_F(TextAtTheScreensScale, ALabelSizedToFitDrawsEveryCharacterInsideItsBounds) {
  auto label = std::make_shared<UILabel>();
  ASSERT_EQ(label->contentScaleFactor(), 2);
  label->setTextColor(UIColor::whiteColor());
  label->setText(kMixed);
  const CGSize fits = label->sizeThatFits({0, 0});
  EXPECT_EQ(label->intrinsicContentSize(), fits);
  label->setFrame(CGRectMake(0, 0, fits.width, fits.height));

  const textink::Ink whole = textink::unclippedInk(whiteText(kMixed, label->font()), 2);
  ASSERT_FALSE(whole.empty());
  EXPECT_GE(fits.width * 2, whole.columns.last + 1) << "the label is as wide as the ink of its text";
  const textink::Ink drawn = renderedInk(label);
  EXPECT_NEAR(drawn.columns.first, whole.columns.first, 1);
  EXPECT_NEAR(drawn.columns.size(), whole.columns.size(), 1) << "nothing of the text is cut at the label's edge";
}

// A label of several lines is as high as the lines it draws: a width that holds the text on one
// line at a scale of 1 takes two at the scale it is drawn at.
TEST_F(TextAtTheScreensScale, AWrappingLabelSizedToFitIsAsHighAsTheLinesItDraws) {
  auto label = std::make_shared<UILabel>();
  label->setTextColor(UIColor::whiteColor());
  label->setNumberOfLines(0);
  label->setText(kMixed);
  const NSAttributedString text = whiteText(kMixed, label->font());
  const double atOne = widthDrawnAt(text, 1), atTwo = widthDrawnAt(text, 2);
  ASSERT_GT(atTwo, atOne + 4) << "the text is wider at a scale of 2";
  const double width = std::floor((atOne + atTwo) / 2);
  const CGSize fits = label->sizeThatFits({width, 0});
  label->setFrame(CGRectMake(0, 0, width, fits.height));

  const textink::Ink whole = textink::unclippedInk(text, 2, width);
  ASSERT_FALSE(whole.empty());
  EXPECT_GE(fits.height * 2, whole.rows.size()) << "the label is as high as the ink of its lines";
  const textink::Ink drawn = renderedInk(label);
  EXPECT_NEAR(drawn.rows.size(), whole.rows.size(), 1) << "no line is cut at the label's edges";
}

TEST_F(TextAtTheScreensScale, AButtonSizedToFitDrawsItsWholeTitle) {
  auto button = UIButton::buttonWithType(UIButtonType::Custom);  // a white title
  ASSERT_EQ(button->contentScaleFactor(), 2);
  button->setTitle(kMixed, UIControlStateNormal);
  const CGSize fits = button->sizeThatFits({0, 0});
  EXPECT_EQ(button->intrinsicContentSize(), fits);
  button->setFrame(CGRectMake(0, 0, fits.width, fits.height));

  const textink::Ink whole = textink::unclippedInk(whiteText(kMixed, button->titleLabel()->font()), 2);
  ASSERT_FALSE(whole.empty());
  EXPECT_GE(fits.width * 2, whole.columns.size()) << "the button is as wide as the ink of its title";
  const textink::Ink drawn = renderedInk(button);
  EXPECT_NEAR(drawn.columns.size(), whole.columns.size(), 1) << "nothing of the title is cut at the button's edge";
}

// An attributed title is measured as it is drawn too.
TEST_F(TextAtTheScreensScale, AButtonSizedToFitDrawsItsWholeAttributedTitle) {
  auto button = UIButton::buttonWithType(UIButtonType::Custom);
  auto title = std::make_shared<NSAttributedString>(whiteText(kMixed, UIFont::fontWithName("Avenir-Heavy", 21)));
  button->setAttributedTitle(title, UIControlStateNormal);
  const CGSize fits = button->sizeThatFits({0, 0});
  button->setFrame(CGRectMake(0, 0, fits.width, fits.height));
  const textink::Ink whole = textink::unclippedInk(*title, 2);
  ASSERT_FALSE(whole.empty());
  EXPECT_GE(fits.width * 2, whole.columns.size());
  EXPECT_NEAR(renderedInk(button).columns.size(), whole.columns.size(), 1);
}

// The bar's title is centred in the room between the bar's buttons: a title that fills most of it is
// drawn whole, and as far from either end as the text's width at the screen's scale puts it.
TEST_F(TextAtTheScreensScale, TheNavigationBarsTitleIsDrawnWholeAndCentred) {
  const UIFontRef font = UIFont::fontWithName("Avenir-Heavy", 17);  // the bar title's font
  const double room = 568 - 160;                                     // the title label's width
  // As many copies of the text as fit the room when drawn at a scale of 2, then single letters.
  std::string title;
  auto fits = [&](const std::string& t) { return widthDrawnAt(whiteText(t, font), 2) <= room - 2; };
  while (fits(title + kMixed)) title += kMixed;
  while (fits(title + "x")) title += "x";
  ASSERT_GT(title.size(), kMixed.size());

  auto window = std::make_shared<UIWindow>();
  auto content = std::make_shared<UIViewController>();
  content->setTitle(title);
  window->setRootViewController(UINavigationController::initWithRootViewController(content));
  window->makeKeyAndVisible();
  auto image = UICompositor::render(window, 2);
  ASSERT_TRUE(image);
  // White ink over the bar's dark background, within the title's room.
  const auto bar = image->pixel(2, 2);
  auto brightInk = [&](const CGBitmapContext::RGBA& p) { return p.r >= (bar.r + 255) / 2 && p.g >= (bar.g + 255) / 2; };
  const textink::Ink drawn =
      textink::inkIn(*image, 80 * 2, 0, int(room * 2), int(UINavigationController::kNavigationBarHeight * 2), brightInk);

  const NSAttributedString text = whiteText(title, font);
  const textink::Ink whole = textink::unclippedInk(text, 2);
  ASSERT_FALSE(whole.empty());
  EXPECT_NEAR(drawn.columns.size(), whole.columns.size(), 1) << "nothing of the title is cut";
  const double left = 80 + (room - widthDrawnAt(text, 2)) / 2;  // where the centred line starts
  EXPECT_NEAR(drawn.columns.first, left * 2 + whole.columns.first, 1.5) << "centred by the width it is drawn with";
}

// Where neither a context nor a view is at hand, text is measured at the screen's scale, and
// follows it when the screen is configured anew.
TEST_F(TextAtTheScreensScale, TextMeasuredWithoutAContextOrAViewFollowsTheScreensScale) {
  const NSAttributedString text = whiteText(kMixed, UIFont::systemFontOfSize(17));
  const NSTextAttributes plain{UIFont::systemFontOfSize(17), UIColor::whiteColor(), 0};
  ASSERT_NE(widthDrawnAt(text, 1), widthDrawnAt(text, 2));
  // The width and height of the text's line measured in a context at the scale.
  auto inContextAt = [&](double scale) {
    auto bitmap = CGBitmapContext::create(1, 1, scale);
    const CGSize size = text.size(0, bitmap->context());
    return std::pair{size.width, size.height};
  };
  auto pair = [](CGSize size) { return std::pair{size.width, size.height}; };
  EXPECT_EQ(pair(text.size()), inContextAt(2));
  EXPECT_EQ(pair(NSStringSizeWithAttributes(kMixed, plain)), inContextAt(2));
  UIScreen::mainScreen().configure({568, 320}, 1);
  EXPECT_EQ(pair(text.size()), inContextAt(1));
  EXPECT_EQ(pair(NSStringSizeWithAttributes(kMixed, plain)), inContextAt(1));
  UIScreen::mainScreen().configure({568, 320}, 3);
  EXPECT_EQ(pair(text.size()), inContextAt(3));
}

}  // namespace
