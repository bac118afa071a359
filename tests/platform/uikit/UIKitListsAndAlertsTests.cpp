// The UI kit's lists, scrolling and stacking, alerts, text fields, navigation items, named colours
// and template images, and the constraint solver's order of what places a view.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/foundation/NSException.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIColorNamed.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UIImageView.h"
#include "platform/uikit/UIKeyInput.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIScrollView.h"
#include "platform/uikit/UIStackView.h"
#include "platform/uikit/UITableView.h"
#include "platform/uikit/UIWindow.h"
#include "tests/support/ManualClock.h"

namespace {

using C = NSLayoutConstraint;

template <class T>
std::shared_ptr<T> constrained(const UIViewRef& parent, std::shared_ptr<T> view) {
  view->setTranslatesAutoresizingMaskIntoConstraints(false);
  parent->addSubview(view);
  return view;
}

// Touches in window coordinates.
void drag(UIWindow& window, CGPoint from, CGPoint to) {
  window.touchDown(from);
  window.touchMove({(from.x + to.x) / 2, (from.y + to.y) / 2});
  window.touchMove(to);
  window.touchUp(to);
}
void tap(UIWindow& window, const UIViewRef& view) {
  window.layoutPass();
  const CGRect f = view->convertRectToView(view->bounds(), nullptr);
  const CGPoint c{CGRectGetMidX(f), CGRectGetMidY(f)};
  window.touchDown(c);
  window.touchUp(c);
}

// ---- The solver ----

TEST(ConstraintOrder, AViewsOwnConstraintsAndIntrinsicSizeComeBeforeWhatSiblingsSayAboutIt) {
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 300, 200));
  // A label pinned at its bottom, with a stretchy view tied to its top: the label keeps its
  // natural height and the other view stretches, whatever the frames were before.
  auto label = constrained(root, std::make_shared<UILabel>());
  label->setText("Title");
  auto stretchy = constrained(root, std::make_shared<UIView>());
  C::activateConstraints({
      label->bottomAnchor().constraintEqualToAnchor(root->bottomAnchor(), -20),
      label->leadingAnchor().constraintEqualToAnchor(root->leadingAnchor()),
      stretchy->topAnchor().constraintEqualToAnchor(root->topAnchor(), 10),
      stretchy->bottomAnchor().constraintEqualToAnchor(label->topAnchor(), -5),
      stretchy->leadingAnchor().constraintEqualToAnchor(root->leadingAnchor()),
      stretchy->widthAnchor().constraintEqualToConstant(40),
  });
  root->layoutIfNeeded();
  const double natural = label->intrinsicContentSize().height;
  ASSERT_GT(natural, 0);
  EXPECT_EQ(label->frame().size.height, natural);
  EXPECT_EQ(label->frame().origin.y, 180 - natural);
  EXPECT_EQ(stretchy->frame(), CGRectMake(0, 10, 40, 180 - natural - 5 - 10));
  // The label's width is its own as well, though a sibling is tied to its trailing edge.
  auto follower = constrained(root, std::make_shared<UIView>());
  C::activateConstraints({follower->leadingAnchor().constraintEqualToAnchor(label->trailingAnchor(), 6),
                          follower->widthAnchor().constraintEqualToConstant(10),
                          follower->heightAnchor().constraintEqualToConstant(10),
                          follower->topAnchor().constraintEqualToAnchor(root->topAnchor())});
  root->layoutIfNeeded();
  EXPECT_EQ(label->frame().size.width, label->intrinsicContentSize().width);
  EXPECT_EQ(follower->frame().origin.x, label->frame().size.width + 6);
}

TEST(ConstraintOrder, ConstraintsToAnEnclosingViewLeaveItsSuperviewUntouched) {
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 300, 200));
  auto box = std::make_shared<UIView>(CGRectMake(10, 10, 100, 100));
  root->addSubview(box);
  root->layoutIfNeeded();
  auto inner = constrained(box, std::make_shared<UIView>());
  box->layoutIfNeeded();
  ASSERT_FALSE(root->needsLayout());
  C::activateConstraints({inner->topAnchor().constraintEqualToAnchor(box->topAnchor()),
                          inner->bottomAnchor().constraintEqualToAnchor(box->bottomAnchor())});
  EXPECT_TRUE(box->needsLayout()) << "the box lays its subview out again";
  EXPECT_FALSE(root->needsLayout()) << "the box itself does not move";
}

// ---- Scroll and stack views ----

TEST(ScrollAndStack, AStackPinnedInAScrollViewSetsTheContentSizeAndScrollsByDragging) {
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 300, 200));
  auto scroll = std::make_shared<UIScrollView>(CGRectMake(0, 0, 200, 100));
  window->addSubview(scroll);
  auto stack = constrained(scroll, std::make_shared<UIStackView>());
  auto height = stack->heightAnchor().constraintEqualToConstant(100);
  C::activateConstraints({stack->topAnchor().constraintEqualToAnchor(scroll->topAnchor()),
                          stack->leadingAnchor().constraintEqualToAnchor(scroll->leadingAnchor()),
                          stack->trailingAnchor().constraintEqualToAnchor(scroll->trailingAnchor()),
                          stack->bottomAnchor().constraintEqualToAnchor(scroll->bottomAnchor()), height});
  std::vector<UIViewRef> items;
  for (int i = 0; i < 5; ++i) {
    auto item = std::make_shared<UIView>();
    item->widthAnchor().constraintEqualToConstant(60)->setActive(true);
    stack->addArrangedSubview(item);
    items.push_back(item);
  }
  window->layoutPass();
  EXPECT_EQ(stack->frame(), CGRectMake(0, 0, 300, 100)) << "as wide as its items, not as the scroll view";
  EXPECT_EQ(scroll->contentSize(), CGSizeMake(300, 100));
  EXPECT_EQ(items[3]->frame(), CGRectMake(180, 0, 60, 100));
  // A drag to the left shows the end of the content, and no further.
  drag(*window, {150, 50}, {50, 50});
  EXPECT_EQ(scroll->contentOffset(), CGPointMake(100, 0));
  drag(*window, {150, 50}, {10, 50});
  EXPECT_EQ(scroll->contentOffset(), CGPointMake(100, 0)) << "clamped at the end";
  // A hidden item takes no room.
  items[0]->setHidden(true);
  stack->invalidateIntrinsicContentSize();
  window->layoutPass();
  EXPECT_EQ(scroll->contentSize().width, 240);
  EXPECT_EQ(items[1]->frame().origin.x, 0);
}

TEST(ScrollAndStack, ViewsWithoutALengthShareWhatIsLeft) {
  auto stack = std::make_shared<UIStackView>(CGRectMake(0, 0, 100, 20));
  stack->setSpacing(10);
  auto fixed = std::make_shared<UIView>(), a = std::make_shared<UIView>(), b = std::make_shared<UIView>();
  fixed->widthAnchor().constraintEqualToConstant(30)->setActive(true);
  for (const auto& v : {fixed, a, b}) stack->addArrangedSubview(v);
  stack->layoutIfNeeded();
  EXPECT_EQ(a->frame(), CGRectMake(40, 0, 25, 20));
  EXPECT_EQ(b->frame(), CGRectMake(75, 0, 25, 20));
  EXPECT_EQ(stack->intrinsicContentSize().width, 50) << "the known length and the spacings";
}

// ---- Tables ----

class Rows : public UITableViewDataSource, public UITableViewDelegate {
 public:
  std::vector<int64_t> rowsPerSection{3, 2};
  std::vector<NSIndexPath> selected;
  std::vector<std::pair<std::shared_ptr<UIView>, int64_t>> shownHeaders;
  int cellsAsked = 0;
  bool customHeaders = false;
  int64_t numberOfSectionsInTableView(UITableView&) override { return int64_t(rowsPerSection.size()); }
  int64_t tableViewNumberOfRowsInSection(UITableView&, int64_t section) override { return rowsPerSection[size_t(section)]; }
  std::shared_ptr<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& t, const NSIndexPath& p) override {
    ++cellsAsked;
    auto cell = t.dequeueReusableCellWithIdentifier("row", p);
    cell->setTag(int(p.section * 100 + p.row));
    return cell;
  }
  std::optional<std::string> tableViewTitleForHeaderInSection(UITableView&, int64_t section) override {
    return "Section " + std::to_string(section);
  }
  double tableViewHeightForRowAtIndexPath(UITableView&, const NSIndexPath& p) override { return p.section == 0 ? 40 : 20; }
  double tableViewHeightForHeaderInSection(UITableView&, int64_t) override { return 30; }
  std::shared_ptr<UIView> tableViewViewForHeaderInSection(UITableView&, int64_t) override {
    return customHeaders ? std::make_shared<UIView>() : nullptr;
  }
  void tableViewWillDisplayHeaderView(UITableView&, const std::shared_ptr<UIView>& v, int64_t s) override {
    shownHeaders.emplace_back(v, s);
  }
  void tableViewDidSelectRowAtIndexPath(UITableView& t, const NSIndexPath& p) override {
    selected.push_back(p);
    t.deselectRowAtIndexPath(p, true);
  }
};

struct TableFixture : ::testing::Test {
  std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRectMake(0, 0, 200, 120));
  std::shared_ptr<UITableView> table = std::make_shared<UITableView>(CGRectMake(0, 0, 200, 120));
  std::shared_ptr<Rows> rows = std::make_shared<Rows>();
  int made = 0;
  void SetUp() override {
    window->addSubview(table);
    table->registerCellFactory("row", [this] {
      ++made;
      return std::make_shared<UITableViewCell>("row");
    });
    table->setDataSource(rows);
    table->setDelegate(rows);
    table->reloadData();
    window->layoutPass();
  }
};

TEST_F(TableFixture, SectionsStackHeadersAndRowsAndOnlyTheRowsInViewHaveCells) {
  EXPECT_EQ(table->numberOfSections(), 2);
  EXPECT_EQ(table->rectForHeaderInSection(1), CGRectMake(0, 150, 200, 30));
  EXPECT_EQ(table->rectForRowAtIndexPath({1, 1}), CGRectMake(0, 200, 200, 20));
  EXPECT_EQ(table->contentSize(), CGSizeMake(200, 220));
  EXPECT_EQ(table->indexPathsForVisibleRows().size(), 3u) << "three rows of section 0 meet the 120 points in view";
  EXPECT_EQ(table->cellForRowAtIndexPath({1, 0}), nullptr);
  // The standard header carries the data source's title and is shown to the delegate first.
  ASSERT_EQ(rows->shownHeaders.size(), 1u);
  auto standard = std::dynamic_pointer_cast<UITableViewHeaderFooterView>(rows->shownHeaders[0].first);
  ASSERT_TRUE(standard);
  EXPECT_EQ(standard->textLabel()->text(), "Section 0");
  // Scrolling to the end recycles the cells that left and reuses them for the rows that came.
  table->scrollToRowAtIndexPath({1, 1});
  EXPECT_EQ(table->contentOffset().y, 100);
  EXPECT_TRUE(table->cellForRowAtIndexPath({1, 1}));
  EXPECT_FALSE(table->cellForRowAtIndexPath({0, 0}));
  EXPECT_EQ(table->indexPathsForVisibleRows().size(), 4u);
  EXPECT_EQ(made, 4) << "the rows that came in view reused the cell of the one that left";
  EXPECT_EQ(table->cellForRowAtIndexPath({1, 1})->tag(), 101);
  EXPECT_EQ(table->indexPathForCell(*table->cellForRowAtIndexPath({1, 0})), (NSIndexPath{1, 0}));
}

TEST_F(TableFixture, ATapSelectsTheRowAndADragScrollsInstead) {
  tap(*window, table->cellForRowAtIndexPath({0, 1}));
  ASSERT_EQ(rows->selected.size(), 1u);
  EXPECT_EQ(rows->selected[0], (NSIndexPath{0, 1}));
  EXPECT_FALSE(table->cellForRowAtIndexPath({0, 1})->isSelected()) << "the delegate deselected it";
  drag(*window, {100, 100}, {100, 40});
  EXPECT_EQ(rows->selected.size(), 1u) << "a drag selects nothing";
  EXPECT_EQ(table->contentOffset().y, 60);
}

TEST_F(TableFixture, ReloadAsksAgainAndAnUnknownIdentifierRaises) {
  rows->rowsPerSection = {0, 1};
  rows->customHeaders = true;
  rows->shownHeaders.clear();
  table->reloadData();
  window->layoutPass();
  EXPECT_EQ(table->numberOfRowsInSection(0), 0);
  EXPECT_EQ(table->rectForHeaderInSection(1), CGRectMake(0, 30, 200, 30)) << "an empty section keeps its header";
  ASSERT_EQ(rows->shownHeaders.size(), 2u);
  EXPECT_FALSE(std::dynamic_pointer_cast<UITableViewHeaderFooterView>(rows->shownHeaders[0].first));
  EXPECT_THROW(table->dequeueReusableCellWithIdentifier("nothing", {0, 0}), NSException);
}

// ---- Text fields and the keyboard ----

TEST(TextField, TypingGoesToTheFieldBeingEditedAndTheClearButtonEmptiesIt) {
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 300, 100));
  auto first = std::make_shared<UITextField>(CGRectMake(10, 10, 200, 30));
  auto second = std::make_shared<UITextField>(CGRectMake(10, 50, 200, 30));
  window->addSubview(first);
  window->addSubview(second);
  first->setClearButtonMode(UITextFieldViewMode::WhileEditing);
  int changes = 0;
  first->addAction([&](UIControl&) { ++changes; }, UIControlEventEditingChanged);
  UIKeyInput::typeText("ignored");  // no field is being edited
  EXPECT_EQ(first->text(), "");
  tap(*window, first);
  EXPECT_TRUE(first->isEditing());
  UIKeyInput::typeText("Mic\nrophone é");
  EXPECT_EQ(first->text(), "Microphone é") << "one line: the line break is not taken";
  UIKeyInput::typeBackspace();
  EXPECT_EQ(first->text(), "Microphone ") << "a two-byte character goes at once";
  EXPECT_EQ(changes, 2);
  EXPECT_TRUE(first->isClearButtonShown());
  // Another field takes the keyboard over.
  tap(*window, second);
  EXPECT_FALSE(first->isEditing());
  EXPECT_FALSE(first->isClearButtonShown());
  UIKeyInput::typeText("x");
  EXPECT_EQ(second->text(), "x");
  // The clear button empties the field.
  tap(*window, first);
  const CGRect clear = first->convertRectToView(first->clearButtonRect(), nullptr);
  window->touchDown({CGRectGetMidX(clear), CGRectGetMidY(clear)});
  window->touchUp({CGRectGetMidX(clear), CGRectGetMidY(clear)});
  EXPECT_EQ(first->text(), "");
  // Typing stops at the longest text a field takes.
  UIKeyInput::typeText(std::string(UITextField::kMaxTextBytes, 'a'));
  UIKeyInput::typeText("b");
  EXPECT_EQ(first->text().size(), UITextField::kMaxTextBytes);
  first->resignFirstResponder();
  EXPECT_EQ(UIKeyInput::firstResponder(), nullptr);
}

// The columns (in points) where a field draws its caret, in the field's tint: none when it draws none.
std::vector<double> caretColumns(const std::shared_ptr<UITextField>& field) {
  auto image = UICompositor::render(field, 2);
  std::vector<double> columns;
  if (!image) return columns;
  for (int x = 0; x < image->width(); ++x) {
    int red = 0;
    for (int y = 0; y < image->height(); ++y) {
      auto p = image->pixel(x, y);
      red += p.a > 200 && p.r > 200 && p.g < 60 && p.b < 60;
    }
    if (red >= 8) columns.push_back(x / 2.0);
  }
  return columns;
}
double caretLeft(const std::shared_ptr<UITextField>& field) {
  auto columns = caretColumns(field);
  return columns.empty() ? -1 : columns.front();
}

class CaretFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<UIWindow>(CGRectMake(0, 0, 300, 100));
    field = std::make_shared<UITextField>(CGRectMake(10, 10, 200, 30));
    field->setBackgroundColor(UIColor::blackColor());
    field->setTextColor(UIColor::whiteColor());
    field->setTintColor(UIColor::colorWithRed(1, 0, 0, 1));
    window->addSubview(field);
    field->addAction([this](UIControl&) { ++changes; }, UIControlEventEditingChanged);
  }
  void TearDown() override { field->resignFirstResponder(); }
  void keys(std::initializer_list<UITextCaretMove> moves) {
    for (auto move : moves) UIKeyInput::typeCaretMove(move);
  }
  std::shared_ptr<UIWindow> window;
  std::shared_ptr<UITextField> field;
  int changes = 0;
};

// Left, Right, Home and End move the caret; typing, Backspace and Delete edit where it stands,
// and it is drawn there.
TEST_F(CaretFixture, TheCaretMovesAndTypingBackspaceAndDeleteEditWhereItStands) {
  tap(*window, field);
  UIKeyInput::typeText("Microphne");
  EXPECT_EQ(field->caretPosition(), 9u);
  const double atEnd = caretLeft(field);
  keys({UITextCaretMove::Left, UITextCaretMove::Left});
  EXPECT_EQ(field->caretPosition(), 7u);
  EXPECT_LT(caretLeft(field), atEnd - 5) << "drawn where it stands, not at the end";
  UIKeyInput::typeText("o");
  EXPECT_EQ(field->text(), "Microphone");
  EXPECT_EQ(field->caretPosition(), 8u);
  keys({UITextCaretMove::Home});
  EXPECT_EQ(field->caretPosition(), 0u);
  EXPECT_NEAR(caretLeft(field), 8, 1) << "at the start of the text, inside the padding";
  UIKeyInput::typeBackspace();  // nothing before it
  UIKeyInput::typeDelete();
  EXPECT_EQ(field->text(), "icrophone");
  UIKeyInput::typeText("M");
  keys({UITextCaretMove::Right, UITextCaretMove::Right});
  UIKeyInput::typeBackspace();
  EXPECT_EQ(field->text(), "Mirophone");
  EXPECT_EQ(field->caretPosition(), 2u);
  keys({UITextCaretMove::End});
  UIKeyInput::typeDelete();  // nothing after it
  keys({UITextCaretMove::Right});
  EXPECT_EQ(field->caretPosition(), field->text().size());
  EXPECT_NEAR(caretLeft(field), atEnd, 3);
  EXPECT_EQ(changes, 5) << "every edit, and no move, is a change";
  // A new text, set or by editing anew, puts the caret at its end.
  keys({UITextCaretMove::Home});
  field->setText("Headset");
  EXPECT_EQ(field->caretPosition(), 7u);
  keys({UITextCaretMove::Home});
  field->resignFirstResponder();
  EXPECT_TRUE(caretColumns(field).empty()) << "no caret while not editing";
  tap(*window, field);
  EXPECT_EQ(field->caretPosition(), 7u);
}

// A letter and its combining accent, a flag, a character of four bytes: each is one step of the
// caret and one Delete; Backspace still takes one code point, as the desktop's does. Bytes that are
// not UTF-8 are taken as U+FFFD and step like any character.
TEST_F(CaretFixture, TheCaretStepsOverWholeCharactersAsTheEyeCountsThem) {
  tap(*window, field);
  const std::string accented = "e\xCC\x81", flag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", clef = "\xF0\x9D\x84\x9E";
  UIKeyInput::typeText("a" + accented + flag + clef + "z");
  const size_t a = 1, e = a + accented.size(), f = e + flag.size(), c = f + clef.size();
  std::vector<size_t> seen;
  for (int i = 0; i < 6; ++i) {
    keys({UITextCaretMove::Left});
    seen.push_back(field->caretPosition());
  }
  EXPECT_EQ(seen, (std::vector<size_t>{c, f, e, a, 0, 0}));
  keys({UITextCaretMove::Right});
  UIKeyInput::typeDelete();
  EXPECT_EQ(field->text(), "a" + flag + clef + "z") << "the accent went with its letter";
  UIKeyInput::typeDelete();
  EXPECT_EQ(field->text(), "a" + clef + "z") << "both halves of the flag";
  keys({UITextCaretMove::Right});
  EXPECT_EQ(field->caretPosition(), 1 + clef.size());
  UIKeyInput::typeBackspace();
  EXPECT_EQ(field->text(), "az");
  // A letter typed before an accent takes it: the caret stands after both.
  field->setText(accented.substr(1));
  tap(*window, field);
  keys({UITextCaretMove::Home});
  UIKeyInput::typeText("o");
  EXPECT_EQ(field->caretPosition(), 1 + accented.size() - 1);
  // Bytes that are no characters.
  field->setText("x\xFF\xC3");
  EXPECT_EQ(field->text(), "x\xEF\xBF\xBD\xEF\xBF\xBD");
  keys({UITextCaretMove::Left});
  EXPECT_EQ(field->caretPosition(), 4u);
  UIKeyInput::typeText("\xE2\x82");  // cut short
  EXPECT_EQ(field->text(), "x\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

// The columns (in pixels at a scale of 2) where a field not being edited draws ink of its text (white
// over its black background).
std::vector<int> inkColumns(const std::shared_ptr<UITextField>& field) {
  auto image = UICompositor::render(field, 2);
  std::vector<int> columns;
  if (!image) return columns;
  for (int x = 0; x < image->width(); ++x) {
    for (int y = 0; y < image->height(); ++y) {
      auto p = image->pixel(x, y);
      if (p.a > 200 && p.r > 90 && p.g > 90 && p.b > 90) {
        columns.push_back(x);
        break;
      }
    }
  }
  return columns;
}

// At a scale of 2 the caret stood several pixels left of each boundary after a character the fonts
// draw as a box (CJK text on a machine without a CJK font), covering the last character at the end
// and standing inside a box after Left: it was measured at a scale of 1, where boxes are narrower.
// Checked against the pixels drawn: the boundary after k characters lies between the last ink of
// the first k characters drawn alone and the first ink after it in the whole text. U+0378 is no
// character at all, a box on every machine; the CJK characters are boxes here and glyphs where a
// CJK font is installed, and the boundaries are found the same way for either.
TEST_F(CaretFixture, TheCaretStandsOnTheBoundaryAsDrawnAtAScaleOfTwoAfterMissingGlyphs) {
  const std::vector<std::string> characters = {"a", "\xE4\xB8\xAD", "\xE6\x96\x87", "\xCD\xB8", "\xCD\xB8", "z",
                                               "\xE5\xAD\x97"};
  std::string text;
  std::vector<int> lastInk = {-1};  // of the first k characters drawn alone
  for (const auto& c : characters) {
    text += c;
    field->setText(text);
    const auto ink = inkColumns(field);
    ASSERT_FALSE(ink.empty());
    ASSERT_GT(ink.back(), lastInk.back()) << "each character draws ink right of those before it";
    lastInk.push_back(ink.back());
  }
  const auto ink = inkColumns(field);
  tap(*window, field);
  ASSERT_EQ(field->caretPosition(), text.size());
  for (size_t k = characters.size(); k >= 1; --k) {
    const auto caret = caretColumns(field);
    ASSERT_FALSE(caret.empty()) << k;
    // Its middle, in pixels: the caret is centred on the boundary.
    const double middle = caret.front() * 2 + caret.size() / 2.0;
    EXPECT_GE(middle, lastInk[k]) << "the caret after " << k << " characters stands on the ink before it";
    if (k < characters.size()) {
      const int nextInk = *std::upper_bound(ink.begin(), ink.end(), lastInk[k]);
      EXPECT_LE(middle, nextInk + 1) << "the caret after " << k << " characters stands on the ink after it";
    }
    keys({UITextCaretMove::Left});
  }
}

// A text wider than the field scrolls to keep the caret in view: the start shows at Home, the end
// at End; typing in the middle stops at the longest text the field takes.
TEST_F(CaretFixture, AWideTextScrollsToKeepTheCaretInView) {
  tap(*window, field);
  std::string wide;
  for (int i = 0; i < 8; ++i) wide += "Studio headset ";
  UIKeyInput::typeText(wide);
  const double right = caretLeft(field);
  EXPECT_GT(right, 180) << "at the end, by the field's right edge";
  EXPECT_LE(right, 200);
  keys({UITextCaretMove::Home});
  EXPECT_NEAR(caretLeft(field), 8, 1);
  keys({UITextCaretMove::Right, UITextCaretMove::Right});
  const double two = caretLeft(field);
  EXPECT_GT(two, 12);
  EXPECT_LT(two, 40) << "the start stays in view while the caret is in it";
  keys({UITextCaretMove::End});
  EXPECT_NEAR(caretLeft(field), right, 1);
  keys({UITextCaretMove::Home});
  UIKeyInput::typeText(std::string(UITextField::kMaxTextBytes - field->text().size(), 'x'));
  EXPECT_EQ(field->text().size(), UITextField::kMaxTextBytes);
  UIKeyInput::typeText("y");
  EXPECT_EQ(field->text().size(), UITextField::kMaxTextBytes);
  EXPECT_EQ(field->text().find('y'), std::string::npos);
  EXPECT_EQ(field->text().substr(field->caretPosition()), wide) << "typed before the old text, which is kept";
}

// ---- Alerts ----

class AlertFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    UIScreen::mainScreen().configure({568, 320}, 2);
    window = std::make_shared<UIWindow>();
    root = std::make_shared<Screen>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
  }
  struct Screen : UIViewController {
    int disappeared = 0;
    void viewDidDisappear(bool) override { ++disappeared; }
  };
  testsupport::ManualClock clock;
  std::shared_ptr<UIWindow> window;
  std::shared_ptr<Screen> root;
};

TEST_F(AlertFixture, AnActionDismissesTheAlertAndThenRunsItsHandlerOverAScreenThatStaysShown) {
  auto alert = UIAlertController::alertControllerWithTitle("Title", "Message", UIAlertControllerStyle::Alert);
  std::vector<std::string> ran;
  bool presentedWhenRun = true;
  alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default, [&](UIAlertAction& a) {
    ran.push_back(a.title());
    presentedWhenRun = root->presentedViewController() != nullptr;
  }));
  alert->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel));
  EXPECT_THROW(alert->addAction(UIAlertAction::actionWithTitle("Again", UIAlertActionStyle::Cancel)), NSException);
  root->presentViewController(alert, true);
  clock.step(0.5);
  window->layoutPass();
  EXPECT_FALSE(root->view()->isHidden()) << "the screen stays visible under the alert";
  EXPECT_EQ(root->disappeared, 0);
  auto ok = alert->buttonForAction(*alert->actions()[0]);
  auto cancel = alert->buttonForAction(*alert->actions()[1]);
  ASSERT_TRUE(ok && cancel);
  EXPECT_LT(cancel->convertRectToView(cancel->bounds(), nullptr).origin.x,
            ok->convertRectToView(ok->bounds(), nullptr).origin.x)
      << "two short actions share a row, cancel at the left";
  tap(*window, ok);
  EXPECT_TRUE(ran.empty()) << "the handler waits for the alert to go";
  clock.step(0.5);
  EXPECT_EQ(ran, std::vector<std::string>{"OK"});
  EXPECT_FALSE(presentedWhenRun) << "so that a handler can present the next alert";
  EXPECT_EQ(alert->view()->superview(), nullptr);
}

TEST_F(AlertFixture, LongTitlesStackAndTheFirstTextFieldTakesTheKeyboard) {
  auto alert = UIAlertController::alertControllerWithTitle("Name it", std::nullopt, UIAlertControllerStyle::Alert);
  alert->addTextFieldWithConfigurationHandler([](UITextField& f) { f.setPlaceholder("Profile name"); });
  alert->addAction(UIAlertAction::actionWithTitle("A rather long first choice", UIAlertActionStyle::Default));
  alert->addAction(UIAlertAction::actionWithTitle("Another long second choice", UIAlertActionStyle::Default));
  root->presentViewController(alert, true);
  clock.step(0.5);
  window->layoutPass();
  auto a = alert->buttonForAction(*alert->actions()[0]), b = alert->buttonForAction(*alert->actions()[1]);
  EXPECT_LT(a->convertRectToView(a->bounds(), nullptr).origin.y, b->convertRectToView(b->bounds(), nullptr).origin.y);
  ASSERT_EQ(alert->textFields().size(), 1u);
  EXPECT_TRUE(alert->textFields()[0]->isEditing());
  UIKeyInput::typeText("Studio");
  EXPECT_EQ(alert->textFields()[0]->text(), "Studio");
  const CGRect card = alert->cardView()->frame();
  EXPECT_NEAR(CGRectGetMidX(card), 284, 1) << "an alert stands in the middle";
  alert->performAction(alert->actions()[1]);
  clock.step(0.5);
  EXPECT_FALSE(alert->textFields()[0]->isEditing());
}

// Two actions share a row only when both titles fit half of it as they are drawn on the screen: a
// title of CJK characters, emoji and characters no font has that fits at a scale of 1 but not at 2
// would be cut in a half-width button.
TEST_F(AlertFixture, TwoActionsShareARowOnlyWhenBothTitlesFitHalfOfItAsDrawnOnTheScreen) {
  const std::vector<std::string> characters = {"a", "\xE4\xB8\xAD", "\xE6\x96\x87", "z", "\xF0\x9F\xA6\x8B",
                                               "\xF4\x8F\xBF\xBD", "b"};
  NSAttributes attributes;
  attributes.font = UIFont::fontWithName("Avenir-Heavy", 17);  // the widest an action's title is drawn
  auto widthAt = [&](const std::string& text, double scale) {
    auto bitmap = CGBitmapContext::create(1, 1, scale);
    return NSAttributedString(text, attributes).size(0, bitmap->context()).width;
  };
  const double half = 270 / 2 - 16;  // half the alert, less the button's margins
  std::string title;
  for (size_t i = 0; widthAt(title, 2) <= half; ++i) title += characters[i % characters.size()];
  ASSERT_LE(widthAt(title, 1), half) << "a title that fits half the row at a scale of 1 only";
  auto alert = UIAlertController::alertControllerWithTitle("Pick", std::nullopt, UIAlertControllerStyle::Alert);
  alert->addAction(UIAlertAction::actionWithTitle(title, UIAlertActionStyle::Default));
  alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default));
  root->presentViewController(alert, true);
  clock.step(0.5);
  window->layoutPass();
  auto a = alert->buttonForAction(*alert->actions()[0]), b = alert->buttonForAction(*alert->actions()[1]);
  ASSERT_TRUE(a && b);
  EXPECT_LT(a->convertRectToView(a->bounds(), nullptr).origin.y, b->convertRectToView(b->bounds(), nullptr).origin.y)
      << "the actions stack, each as wide as the alert";
  EXPECT_GE(a->bounds().size.width, widthAt(title, 2));
}

// The keyboard in a dialog with a text field: Return is the action the code marks as preferred
// (or the dialog's one choice beside Cancel), Escape the cancel action, whichever order the actions were added in; a dialog without one of
// them keeps its field being edited.
TEST_F(AlertFixture, ReturnIsThePreferredActionAndEscapeTheCancelActionOfADialogWithAField) {
  auto present = [&](std::vector<UIAlertActionRef> actions, UIAlertActionRef preferred = nullptr) {
    auto alert = UIAlertController::alertControllerWithTitle("Name it", std::nullopt, UIAlertControllerStyle::Alert);
    alert->addTextFieldWithConfigurationHandler(nullptr);
    for (const auto& a : actions) alert->addAction(a);
    alert->setPreferredAction(preferred);
    root->presentViewController(alert, true);
    clock.step(0.5);
    window->layoutPass();
    return alert;
  };
  std::vector<std::string> ran;
  auto action = [&](const char* title, UIAlertActionStyle style) {
    return UIAlertAction::actionWithTitle(title, style, [&ran](UIAlertAction& a) { ran.push_back(a.title()); });
  };

  auto save = action("Save", UIAlertActionStyle::Default);
  auto alert = present({action("Cancel", UIAlertActionStyle::Cancel), action("Delete", UIAlertActionStyle::Destructive), save},
                       save);
  UIKeyInput::typeText("Studio");
  UIKeyInput::typeReturn();
  clock.step(0.5);
  EXPECT_EQ(ran, std::vector<std::string>{"Save"});
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_EQ(alert->textFields()[0]->text(), "Studio");

  // Not marked, the one choice beside Cancel is the default; two choices leave Return nothing to
  // do, and the field goes on being edited.
  ran.clear();
  present({action("Save", UIAlertActionStyle::Default), action("Cancel", UIAlertActionStyle::Cancel)});
  UIKeyInput::typeText("Desk");
  UIKeyInput::typeReturn();
  clock.step(0.5);
  EXPECT_EQ(ran, std::vector<std::string>{"Save"});
  EXPECT_EQ(root->presentedViewController(), nullptr);
  ran.clear();
  alert = present({action("Save", UIAlertActionStyle::Default), action("Cancel", UIAlertActionStyle::Cancel),
                   action("Save a copy", UIAlertActionStyle::Default)});
  UIKeyInput::typeText("Desk");
  UIKeyInput::typeReturn();
  clock.step(0.5);
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(root->presentedViewController(), alert);
  UIKeyInput::typeText(" mic");
  EXPECT_EQ(alert->textFields()[0]->text(), "Desk mic");
  alert->dismissViewControllerAnimated(false);

  ran.clear();
  present({action("Save", UIAlertActionStyle::Default), action("Cancel", UIAlertActionStyle::Cancel)});
  UIKeyInput::typeEscape();
  clock.step(0.5);
  EXPECT_EQ(ran, std::vector<std::string>{"Cancel"});
  EXPECT_EQ(root->presentedViewController(), nullptr);

  // No cancel action: Escape does nothing. A disabled default: Return does nothing. Either way the
  // dialog stays and its field keeps the keyboard.
  ran.clear();
  save = action("Save", UIAlertActionStyle::Default);
  save->setEnabled(false);
  alert = present({save, action("Delete", UIAlertActionStyle::Destructive)}, save);
  UIKeyInput::typeEscape();
  UIKeyInput::typeReturn();
  clock.step(0.5);
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(root->presentedViewController(), alert);
  EXPECT_TRUE(alert->textFields()[0]->isEditing());
  UIKeyInput::typeText("x");
  EXPECT_EQ(alert->textFields()[0]->text(), "x");
  alert->performAction(alert->actions()[1]);
  clock.step(0.5);
  EXPECT_EQ(ran, std::vector<std::string>{"Delete"});
}

// Every alert takes Return and Escape, with a text field or without: the action marked preferred
// (or, unmarked, the one choice beside the cancel action) and the cancel action, the one action of
// an acknowledgement for either, never a destructive action by a key unless it is the one marked.
// An alert of choices with none marked (the popup for a new microphone: two actions of the default
// style, no cancel) takes Return as nothing, as it takes Escape. An action sheet takes Escape as its cancel action and Return as nothing.
TEST_F(AlertFixture, ReturnAndEscapeReachTheAlertInFrontWithOrWithoutAField) {
  std::vector<std::string> ran;
  auto action = [&](const char* title, UIAlertActionStyle style) {
    return UIAlertAction::actionWithTitle(title, style, [&ran](UIAlertAction& a) { ran.push_back(a.title()); });
  };
  // Presents from the controller in front, types the key, and answers the actions that ran.
  auto press = [&](UIAlertControllerStyle style, std::vector<UIAlertActionRef> actions, void (*key)(),
                   int preferred = -1) {
    ran.clear();
    auto alert = UIAlertController::alertControllerWithTitle("Profile saved", std::nullopt, style);
    for (const auto& a : actions) alert->addAction(a);
    if (preferred >= 0) alert->setPreferredAction(actions[size_t(preferred)]);
    UIViewControllerRef front = root;
    while (front->presentedViewController()) front = front->presentedViewController();
    front->presentViewController(alert, true);
    clock.step(0.5);
    window->layoutPass();
    key();
    clock.step(0.5);
    if (front->presentedViewController() == alert) {  // left standing: taken away for the next case
      alert->dismissViewControllerAnimated(false);
      ran.push_back("(stayed)");
    }
    return ran;
  };
  using V = std::vector<std::string>;
  const auto Alert = UIAlertControllerStyle::Alert, Sheet = UIAlertControllerStyle::ActionSheet;
  const auto Default = UIAlertActionStyle::Default, Cancel = UIAlertActionStyle::Cancel,
             Destructive = UIAlertActionStyle::Destructive;
  EXPECT_EQ(press(Alert, {action("OK", Default)}, UIKeyInput::typeReturn), V{"OK"});
  EXPECT_EQ(press(Alert, {action("OK", Default)}, UIKeyInput::typeEscape), V{"OK"});
  EXPECT_EQ(press(Alert, {action("Done", Cancel)}, UIKeyInput::typeReturn), V{"Done"});
  EXPECT_EQ(press(Alert, {action("Cancel", Cancel), action("Save", Default)}, UIKeyInput::typeReturn), V{"Save"});
  EXPECT_EQ(press(Alert, {action("Cancel", Cancel), action("Erase", Destructive)}, UIKeyInput::typeReturn),
            V{"(stayed)"});
  EXPECT_EQ(press(Alert, {action("Cancel", Cancel), action("Save", Default)}, UIKeyInput::typeReturn, 1), V{"Save"});
  EXPECT_EQ(press(Alert, {action("New", Default), action("Keep", Default)}, UIKeyInput::typeReturn), V{"(stayed)"});
  EXPECT_EQ(press(Alert, {action("New", Default), action("Keep", Default)}, UIKeyInput::typeReturn, 1), V{"Keep"});
  EXPECT_EQ(press(Alert, {action("Keep", Default), action("Erase", Destructive)}, UIKeyInput::typeReturn, 1), V{"Erase"});
  EXPECT_EQ(press(Alert, {action("Save", Default), action("Cancel", Cancel)}, UIKeyInput::typeEscape), V{"Cancel"});
  EXPECT_EQ(press(Alert, {action("Erase", Destructive)}, UIKeyInput::typeReturn), V{"(stayed)"});
  EXPECT_EQ(press(Alert, {action("Erase", Destructive)}, UIKeyInput::typeEscape), V{"(stayed)"});
  EXPECT_EQ(press(Alert, {action("Mic", Default), action("Line", Default)}, UIKeyInput::typeEscape), V{"(stayed)"});
  EXPECT_EQ(press(Sheet, {action("Mic", Default), action("Cancel", Cancel)}, UIKeyInput::typeEscape), V{"Cancel"});
  EXPECT_EQ(press(Sheet, {action("Mic", Default), action("Cancel", Cancel)}, UIKeyInput::typeReturn), V{"(stayed)"});
  EXPECT_EQ(press(Sheet, {action("Mic", Default), action("Cancel", Cancel)}, UIKeyInput::typeReturn, 0), V{"(stayed)"});
  EXPECT_EQ(press(Sheet, {action("Mic", Default)}, UIKeyInput::typeEscape), V{"(stayed)"});

  // The alert in front of a presented screen, over a field being edited: the keys are the alert's.
  auto field = std::make_shared<UITextField>(CGRectMake(10, 10, 200, 30));
  root->view()->addSubview(field);
  ASSERT_TRUE(field->becomeFirstResponder());
  int fieldReturns = 0;
  field->addAction([&](UIControl&) { ++fieldReturns; }, UIControlEventEditingDidEndOnExit);
  auto screen = std::make_shared<UIViewController>();
  root->presentViewController(screen, false);
  EXPECT_EQ(press(Alert, {action("OK", Default)}, UIKeyInput::typeReturn), V{"OK"});
  EXPECT_EQ(fieldReturns, 0);
  EXPECT_EQ(root->presentedViewController(), screen) << "only the alert went";
  // With nothing in front that takes keys, they do nothing.
  UIKeyInput::typeReturn();
  UIKeyInput::typeEscape();
  EXPECT_EQ(root->presentedViewController(), screen);
  root->dismissViewControllerAnimated(false);
}

// The preferred action is one of the alert's own, and its title is the bold one (the cancel
// action's is when none is marked).
TEST_F(AlertFixture, ThePreferredActionIsOneOfTheAlertsOwnAndIsTheBoldOne) {
  auto alert = UIAlertController::alertControllerWithTitle("Save?", std::nullopt, UIAlertControllerStyle::Alert);
  auto cancel = UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel);
  auto save = UIAlertAction::actionWithTitle("Save", UIAlertActionStyle::Default);
  EXPECT_THROW(alert->setPreferredAction(save), NSException) << "not added yet";
  alert->addAction(cancel);
  alert->addAction(save);
  EXPECT_EQ(alert->preferredAction(), nullptr);
  root->presentViewController(alert, true);
  clock.step(0.5);
  window->layoutPass();
  auto font = [&](const UIAlertActionRef& a) { return alert->buttonForAction(*a)->titleLabel()->font()->fontName(); };
  EXPECT_EQ(font(cancel), "Avenir-Heavy");
  EXPECT_EQ(font(save), "Avenir-Medium");
  alert->setPreferredAction(save);
  EXPECT_EQ(alert->preferredAction(), save);
  window->layoutPass();
  EXPECT_EQ(font(cancel), "Avenir-Medium");
  EXPECT_EQ(font(save), "Avenir-Heavy");
  auto other = UIAlertAction::actionWithTitle("Other", UIAlertActionStyle::Default);
  EXPECT_THROW(alert->setPreferredAction(other), NSException);
  EXPECT_EQ(alert->preferredAction(), save);
  alert->setPreferredAction(nullptr);
  EXPECT_EQ(alert->actionForKey(UIKeyCommand::Return), save) << "unmarked, the one choice beside Cancel";
  alert->dismissViewControllerAnimated(false);
}

// A field outside any dialog: Escape does nothing, Return ends the editing with its event.
TEST_F(AlertFixture, ReturnEndsEditingOfAFieldOnAScreen) {
  auto field = std::make_shared<UITextField>(CGRectMake(10, 10, 200, 30));
  root->view()->addSubview(field);
  int onExit = 0;
  field->addAction([&](UIControl&) { ++onExit; }, UIControlEventEditingDidEndOnExit);
  ASSERT_TRUE(field->becomeFirstResponder());
  UIKeyInput::typeEscape();
  EXPECT_TRUE(field->isEditing());
  UIKeyInput::typeReturn();
  EXPECT_EQ(onExit, 1);
  EXPECT_FALSE(field->isEditing());
}

TEST_F(AlertFixture, ATapOutsideAnActionSheetIsItsCancelActionAndImagesGoByKey) {
  auto sheet = UIAlertController::alertControllerWithTitle("Choose", std::nullopt, UIAlertControllerStyle::ActionSheet);
  std::string chosen;
  auto mic = UIAlertAction::actionWithTitle("Mic", UIAlertActionStyle::Default, [&](UIAlertAction&) { chosen = "mic"; });
  auto image = UIImage::imageNamed("btnMenu");
  mic->setValue(image, "image");
  EXPECT_EQ(mic->image(), image);
  EXPECT_THROW(mic->setValue(image, "tint"), NSException);
  sheet->addAction(mic);
  sheet->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel,
                                                  [&](UIAlertAction&) { chosen = "cancel"; }));
  EXPECT_THROW(sheet->addTextFieldWithConfigurationHandler(nullptr), NSException);
  EXPECT_EQ(sheet->popoverPresentationController(), nullptr) << "phone screens present sheets from the bottom";
  root->presentViewController(sheet, true);
  clock.step(0.5);
  window->layoutPass();
  EXPECT_GT(CGRectGetMaxY(sheet->cardView()->frame()), 200) << "at the bottom";
  EXPECT_EQ(sheet->buttonForAction(*mic)->currentImage(), image);
  window->touchDown({20, 20});
  window->touchUp({20, 20});
  clock.step(0.5);
  EXPECT_EQ(chosen, "cancel");
}

// ---- Navigation items ----

TEST(NavigationItem, TheBarShowsTheTopControllersTitleAndRightButtonWhichPassesItselfAsSender) {
  testsupport::ManualClock clock;
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 568, 320));
  auto first = std::make_shared<UIViewController>();
  auto nav = UINavigationController::initWithRootViewController(first);
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  EXPECT_TRUE(nav->rightBarButton()->isHidden());
  auto second = std::make_shared<UIViewController>();
  second->setTitle("Profiles");
  std::shared_ptr<UIBarButtonItem> sender;
  auto item = UIBarButtonItem::itemWithSystemItem(UIBarButtonSystemItem::Add, [&](const auto& s) { sender = s; });
  second->navigationItem()->setRightBarButtonItem(item);
  nav->pushViewController(second, false);
  ASSERT_FALSE(nav->rightBarButton()->isHidden());
  EXPECT_EQ(nav->rightBarButton()->currentTitle(), "+");
  tap(*window, nav->rightBarButton());
  EXPECT_EQ(sender, item);
  item->setEnabled(false);
  sender.reset();
  item->performAction();
  EXPECT_EQ(sender, nullptr);
  nav->popViewControllerAnimated(false);
  EXPECT_TRUE(nav->rightBarButton()->isHidden());
}

// ---- Colours and images ----

TEST(NamedColors, TheCatalogueGivesItsColoursAndNothingForOtherNames) {
  auto red = UIColorNamed("brandRed");
  ASSERT_TRUE(red);
  EXPECT_GT(red->red(), 0.8);
  EXPECT_EQ(UIColorNamed("noSuchColour"), nullptr);
  EXPECT_EQ(*UIColorFromHexText("#FF000080"), UIColor(1, 0, 0, 128 / 255.0));
  for (const char* bad : {"FF0000", "#FF00", "#GG0000", "#FF0000FFF"}) EXPECT_EQ(UIColorFromHexText(bad), nullptr) << bad;
}

TEST(TemplateImages, ATemplateImageIsDrawnInTheTintColour) {
  auto logo = UIImage::imageNamed("micLogo");
  ASSERT_TRUE(logo);
  auto view = std::make_shared<UIImageView>(CGRectMake(0, 0, 24, 24));
  view->setImage(logo->imageWithRenderingMode(UIImageRenderingMode::AlwaysTemplate));
  view->setTintColor(UIColor::colorWithRed(1, 0, 0, 1));
  auto image = UICompositor::render(view, 2);
  ASSERT_TRUE(image);
  int red = 0, other = 0;
  for (int y = 0; y < image->height(); ++y)
    for (int x = 0; x < image->width(); ++x) {
      auto p = image->pixel(x, y);
      if (p.a < 200) continue;
      (p.r > 200 && p.g < 40 && p.b < 40) ? ++red : ++other;
    }
  EXPECT_GT(red, 50);
  EXPECT_EQ(other, 0) << "every opaque pixel takes the tint";
  // The same image drawn as it is stays white.
  view->setImage(logo);
  image = UICompositor::render(view, 2);
  bool white = false;
  for (int y = 0; y < image->height() && !white; ++y)
    for (int x = 0; x < image->width(); ++x)
      if (auto p = image->pixel(x, y); p.a > 200 && p.r > 200 && p.g > 200) white = true;
  EXPECT_TRUE(white);
}

}  // namespace
