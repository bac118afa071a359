#include "platform/uikit/UIAlertController.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/NSException.h"
#include "platform/graphics/NSAttributedString.h"
#include "platform/uikit/UIKeyInput.h"
#include "platform/uikit/UILabel.h"

namespace {

constexpr double kAlertWidth = 270;
constexpr double kSheetMaxWidth = 400;
constexpr double kMargin = 16;
constexpr double kAlertButtonHeight = 44;
constexpr double kSheetButtonHeight = 50;
constexpr double kFieldHeight = 30;
constexpr double kCorner = 13;

UIColorRef cardColor() { return UIColor::colorWithRed(0.17, 0.17, 0.19, 0.98); }
UIColorRef separatorColor() { return UIColor::colorWithWhite(1, 0.14); }

// The dimmed backdrop: lays the card out on every layout pass and turns a tap outside an action
// sheet's card into its cancel action.
class AlertBackdrop : public UIView {
 public:
  explicit AlertBackdrop(std::weak_ptr<UIAlertController> owner, std::function<void()> layout,
                         std::function<void()> outsideTap)
      : owner_(std::move(owner)), layout_(std::move(layout)), outsideTap_(std::move(outsideTap)) {}
  void layoutSubviews() override {
    if (owner_.lock()) layout_();
  }
  void touchesEnded(const UITouchSet& touches, const UIEvent*) override {
    if (touches.empty() || !owner_.lock()) return;
    const CGPoint p = touches.front()->locationInView(this);
    for (const auto& child : subviews()) {
      if (!child->isHidden() && CGRectContainsPoint(child->frame(), p)) return;
    }
    outsideTap_();
  }
  void touchesBegan(const UITouchSet&, const UIEvent*) override {}
  void touchesMoved(const UITouchSet&, const UIEvent*) override {}

 private:
  std::weak_ptr<UIAlertController> owner_;
  std::function<void()> layout_, outsideTap_;
};

// A line that separates buttons: a view of one hairline's colour.
std::shared_ptr<UIView> hairline() {
  auto v = std::make_shared<UIView>();
  v->setBackgroundColor(separatorColor());
  v->setUserInteractionEnabled(false);
  v->setTag(-1);
  return v;
}

std::shared_ptr<UILabel> label(const std::string& text, UIFontRef font, UIColorRef color) {
  auto l = std::make_shared<UILabel>();
  l->setText(text);
  l->setFont(std::move(font));
  l->setTextColor(std::move(color));
  l->setTextAlignment(NSTextAlignment::Center);
  l->setNumberOfLines(0);
  return l;
}

}  // namespace

void UIAlertAction::setValue(UIImageRef image, const std::string& key) {
  if (key != "image") {
    NSException::raise("NSUnknownKeyException", "this class is not key value coding-compliant for the key %s", key.c_str());
  }
  image_ = std::move(image);
}

std::shared_ptr<UIAlertAction> UIAlertAction::actionWithTitle(std::string title, UIAlertActionStyle style,
                                                              Handler handler) {
  return std::make_shared<UIAlertAction>(std::move(title), style, std::move(handler));
}

std::shared_ptr<UIAlertController> UIAlertController::alertControllerWithTitle(std::optional<std::string> title,
                                                                               std::optional<std::string> message,
                                                                               UIAlertControllerStyle style) {
  return std::make_shared<UIAlertController>(std::move(title), std::move(message), style);
}

UIAlertController::UIAlertController(std::optional<std::string> title, std::optional<std::string> message,
                                     UIAlertControllerStyle style)
    : title_(std::move(title)), message_(std::move(message)), style_(style) {
  setModalPresentationStyle(UIModalPresentationStyle::OverFullScreen);
  if (title_) setTitle(*title_);
}

void UIAlertController::addAction(const UIAlertActionRef& action) {
  if (!action) return;
  if (action->style() == UIAlertActionStyle::Cancel) {
    for (const auto& a : actions_) {
      if (a->style() == UIAlertActionStyle::Cancel) {
        NSException::raise(NSInternalInconsistencyException,
                           "UIAlertController can only have one action with a style of UIAlertActionStyleCancel");
      }
    }
  }
  actions_.push_back(action);
  contentDirty_ = true;
  if (isViewLoaded()) view()->setNeedsLayout();
}

void UIAlertController::setPreferredAction(const UIAlertActionRef& action) {
  if (action && std::find(actions_.begin(), actions_.end(), action) == actions_.end()) {
    NSException::raise(NSInternalInconsistencyException,
                       "The preferred action of an alert controller must be one of its actions");
  }
  preferredAction_ = action;
  contentDirty_ = true;
  if (isViewLoaded()) view()->setNeedsLayout();
}

void UIAlertController::addTextFieldWithConfigurationHandler(const std::function<void(UITextField&)>& configure) {
  if (style_ != UIAlertControllerStyle::Alert) {
    NSException::raise(NSInternalInconsistencyException, "Text fields can only be added to an alert controller of style UIAlertControllerStyleAlert");
  }
  auto field = std::make_shared<UITextField>();
  field->setBackgroundColor(UIColor::colorWithRed(0.11, 0.11, 0.12, 1));
  field->setTextColor(UIColor::whiteColor());
  field->setFont(UIFont::systemFontOfSize(14));
  field->layer()->setCornerRadius(5);
  field->setClipsToBounds(true);
  if (configure) configure(*field);
  textFields_.push_back(field);
  contentDirty_ = true;
  if (isViewLoaded()) view()->setNeedsLayout();
}

std::shared_ptr<UIButton> UIAlertController::buttonForAction(const UIAlertAction& action) const {
  for (const auto& [a, button] : buttons_)
    if (a.get() == &action) return button;
  return nullptr;
}

void UIAlertController::performAction(const UIAlertActionRef& action) {
  if (!action || !action->isEnabled() || acting_) return;
  if (std::find(actions_.begin(), actions_.end(), action) == actions_.end()) return;
  acting_ = true;
  for (const auto& field : textFields_) field->resignFirstResponder();
  auto run = [action] {
    if (action->handler()) action->handler()(*action);
  };
  if (!presentingViewController()) {
    run();  // never presented: nothing to take away first
    acting_ = false;
    return;
  }
  auto self = std::static_pointer_cast<UIAlertController>(shared_from_this());
  dismissViewControllerAnimated(true, [self, run] {
    self->acting_ = false;
    run();
  });
}

void UIAlertController::loadView() {
  std::weak_ptr<UIAlertController> weak = std::static_pointer_cast<UIAlertController>(shared_from_this());
  auto backdrop = std::make_shared<AlertBackdrop>(
      weak,
      [weak] {
        if (auto self = weak.lock()) self->layoutCard();
      },
      [weak] {
        auto self = weak.lock();
        if (!self || self->style_ != UIAlertControllerStyle::ActionSheet) return;
        for (const auto& a : self->actions_)
          if (a->style() == UIAlertActionStyle::Cancel) self->performAction(a);
      });
  setView(backdrop);
}

void UIAlertController::viewDidAppear(bool animated) {
  UIViewController::viewDidAppear(animated);
  if (textFields_.empty()) {
    // The keys are the alert's now: a field under it would take Return and Escape for its screen.
    UIKeyInput::setFirstResponder(nullptr);
    return;
  }
  // The field takes the keyboard in place on the card, where the keys it is sent reach the alert.
  view()->layoutIfNeeded();
  textFields_.front()->becomeFirstResponder();
}

void UIAlertController::viewWillDisappear(bool animated) {
  UIViewController::viewWillDisappear(animated);
  for (const auto& field : textFields_) field->resignFirstResponder();
}

UIAlertActionRef UIAlertController::actionForKey(UIKeyCommand key) const {
  const bool alert = style_ == UIAlertControllerStyle::Alert;
  if (key == UIKeyCommand::Return) {
    if (!alert) return nullptr;
    if (preferredAction_) return preferredAction_;
    // Unmarked, the default is the one choice the alert offers beside its way out (a dialog's Save
    // beside Cancel). Of two choices or more ("Create a new profile", "Use the built-in
    // microphone"), none is the default: the first is merely offered first.
    UIAlertActionRef choice;
    for (const auto& action : actions_) {
      if (action->style() == UIAlertActionStyle::Cancel) continue;
      if (choice) return nullptr;
      choice = action;
    }
    if (choice && choice->style() != UIAlertActionStyle::Destructive) return choice;
  } else {
    auto cancel = std::find_if(actions_.begin(), actions_.end(),
                               [](const auto& a) { return a->style() == UIAlertActionStyle::Cancel; });
    if (cancel != actions_.end()) return *cancel;
  }
  // The one way out of an acknowledgement; a destructive action is never done by a key.
  if (alert && actions_.size() == 1 && actions_.front()->style() != UIAlertActionStyle::Destructive) {
    return actions_.front();
  }
  return nullptr;
}

bool UIAlertController::performKeyCommand(UIKeyCommand key) {
  if (auto action = actionForKey(key)) performAction(action);
  return true;  // the keys belong to the alert: its field goes on being edited when nothing happened
}

// Builds (once) and places the card's labels, fields and buttons for the view's current size.
void UIAlertController::layoutCard() {
  UIViewRef root = view();
  const CGRect b = root->bounds();
  root->setBackgroundColor(UIColor::colorWithWhite(0, 0.45));
  const bool sheet = style_ == UIAlertControllerStyle::ActionSheet;
  if (!card_) {
    card_ = std::make_shared<UIView>();
    card_->setBackgroundColor(cardColor());
    card_->layer()->setCornerRadius(kCorner);
    card_->setClipsToBounds(true);
    root->addSubview(card_);
  }
  const double width = sheet ? std::min(b.size.width - 16, kSheetMaxWidth) : std::min(kAlertWidth, b.size.width - 40);
  // The content is built again only when actions or fields were added or the width changed; a
  // layout pass in the middle of a tap must not take the pressed button away.
  if (!contentDirty_ && width == builtWidth_) {
    placeCards();
    return;
  }
  contentDirty_ = false;
  builtWidth_ = width;
  for (const auto& child : std::vector<UIViewRef>(card_->subviews())) child->removeFromSuperview();
  if (cancelCard_) {
    cancelCard_->removeFromSuperview();
    cancelCard_.reset();
  }
  buttons_.clear();
  cardHeight_ = addButtons(addTextsAndFields(width), width);
  placeCards();
}

// The title, the message and the text fields from the card's top; answers where the buttons begin.
double UIAlertController::addTextsAndFields(double width) {
  const bool sheet = style_ == UIAlertControllerStyle::ActionSheet;
  const double inner = std::max(0.0, width - 2 * kMargin);
  double y = 0;
  const bool hasText = (title_ && !title_->empty()) || (message_ && !message_->empty());
  if (hasText) y += sheet ? 14 : 20;
  auto addLabel = [&](const std::optional<std::string>& text, UIFontRef font, UIColorRef color) {
    if (!text || text->empty()) return;
    auto l = label(*text, std::move(font), std::move(color));
    const CGSize s = l->sizeThatFits({inner, 0});
    l->setFrame(CGRectMake(kMargin, y, inner, s.height));
    card_->addSubview(l);
    y += s.height + 4;
  };
  if (sheet) {
    addLabel(title_, UIFont::fontWithName("Avenir-Medium", 13), UIColor::colorWithWhite(0.62, 1));
  } else {
    addLabel(title_, UIFont::fontWithName("Avenir-Heavy", 17), UIColor::whiteColor());
  }
  addLabel(message_, UIFont::fontWithName("Avenir-Medium", 13), UIColor::colorWithWhite(0.8, 1));
  if (hasText) y += sheet ? 10 : 12;
  for (const auto& field : textFields_) {
    field->setFrame(CGRectMake(kMargin, y, inner, kFieldHeight));
    card_->addSubview(field);
    y += kFieldHeight + 8;
  }
  if (!textFields_.empty()) y += 8;
  return y;
}

// The button of an action, in its style's font and colour, that performs it when tapped.
std::shared_ptr<UIButton> UIAlertController::makeActionButton(const UIAlertActionRef& action) {
  const bool sheet = style_ == UIAlertControllerStyle::ActionSheet;
  auto button = std::make_shared<UIButton>();
  const bool cancel = action->style() == UIAlertActionStyle::Cancel;
  button->setTitle(action->title(), UIControlStateNormal);
  // The preferred action's title is bold; without one, the cancel action's, as the platform draws them.
  const bool bold = preferredAction_ ? action == preferredAction_ : cancel;
  button->titleLabel()->setFont(UIFont::fontWithName(bold ? "Avenir-Heavy" : "Avenir-Medium", sheet ? 18 : 17));
  button->setTitleColor(action->style() == UIAlertActionStyle::Destructive ? UIColor::colorWithRed(1, 0.27, 0.23, 1)
                                                                            : view()->tintColor(),
                        UIControlStateNormal);
  button->setTitleColor(UIColor::colorWithWhite(1, 0.3), UIControlStateDisabled);
  button->setEnabled(action->isEnabled());
  if (auto image = action->image()) {
    button->setImage(image, UIControlStateNormal);
    button->setTitleEdgeInsets(UIEdgeInsetsMake(0, 10, 0, 0));
  }
  std::weak_ptr<UIAlertController> weak = std::static_pointer_cast<UIAlertController>(shared_from_this());
  std::weak_ptr<UIAlertAction> weakAction = action;
  button->addAction(
      [weak, weakAction](UIControl&) {
        auto self = weak.lock();
        auto a = weakAction.lock();
        if (self && a) self->performAction(a);
      },
      UIControlEventTouchUpInside);
  buttons_.emplace_back(action, button);
  return button;
}

// The action buttons from y down, and a sheet's cancel button on a card of its own; answers the
// card's height.
double UIAlertController::addButtons(double y, double width) {
  const bool sheet = style_ == UIAlertControllerStyle::ActionSheet;
  std::vector<UIAlertActionRef> ordered;
  UIAlertActionRef cancelAction;
  for (const auto& a : actions_) {
    if (a->style() == UIAlertActionStyle::Cancel) cancelAction = a;
    else ordered.push_back(a);
  }
  // An alert lists its cancel action last, or first of a pair (left), as the platform does.
  if (!sheet && cancelAction) {
    if (ordered.size() == 1) ordered.insert(ordered.begin(), cancelAction);
    else ordered.push_back(cancelAction);
    cancelAction.reset();
  }
  const double rowHeight = sheet ? kSheetButtonHeight : kAlertButtonHeight;
  // Two actions share a row when both titles fit in half the width; otherwise they stack.
  auto fitsHalf = [&](const UIAlertActionRef& a) {
    NSAttributes attributes;
    attributes.font = UIFont::fontWithName("Avenir-Heavy", 17);
    const double scale = view()->contentScaleFactor();  // the buttons draw at the screen's scale, as it does
    return NSAttributedString(a->title(), attributes).sizeAtScale(0, scale).width <= width / 2 - 16;
  };
  if (!sheet && ordered.size() == 2 && fitsHalf(ordered[0]) && fitsHalf(ordered[1])) {
    auto line = hairline();
    line->setFrame(CGRectMake(0, y, width, 0.5));
    card_->addSubview(line);
    for (int i = 0; i < 2; ++i) {
      auto button = makeActionButton(ordered[size_t(i)]);
      button->setFrame(CGRectMake(i * width / 2, y + 0.5, width / 2, rowHeight));
      card_->addSubview(button);
    }
    auto middle = hairline();
    middle->setFrame(CGRectMake(width / 2, y, 0.5, rowHeight + 0.5));
    card_->addSubview(middle);
    y += rowHeight + 0.5;
  } else {
    for (size_t i = 0; i < ordered.size(); ++i) {
      if (i > 0 || y > 0) {
        auto line = hairline();
        line->setFrame(CGRectMake(0, y, width, 0.5));
        card_->addSubview(line);
        y += 0.5;
      }
      auto button = makeActionButton(ordered[i]);
      button->setFrame(CGRectMake(0, y, width, rowHeight));
      card_->addSubview(button);
      y += rowHeight;
    }
  }
  if (sheet && cancelAction) {
    cancelCard_ = std::make_shared<UIView>();
    cancelCard_->setBackgroundColor(cardColor());
    cancelCard_->layer()->setCornerRadius(kCorner);
    cancelCard_->setClipsToBounds(true);
    auto button = makeActionButton(cancelAction);
    button->setFrame(CGRectMake(0, 0, width, kSheetButtonHeight));
    cancelCard_->addSubview(button);
    view()->addSubview(cancelCard_);
  }
  return y;
}

// Puts the card (and a sheet's cancel card) in place for the view's current size.
void UIAlertController::placeCards() {
  const CGRect b = view()->bounds();
  const double width = builtWidth_, y = cardHeight_;
  const double x = std::floor(b.origin.x + (b.size.width - width) / 2);
  if (style_ == UIAlertControllerStyle::ActionSheet) {
    double bottom = CGRectGetMaxY(b) - 8;
    if (cancelCard_) {
      cancelCard_->setFrame(CGRectMake(x, bottom - kSheetButtonHeight, width, kSheetButtonHeight));
      bottom -= kSheetButtonHeight + 8;
    }
    card_->setFrame(CGRectMake(x, bottom - y, width, y));
    card_->setHidden(y <= 0);
  } else {
    card_->setFrame(CGRectMake(x, std::floor(b.origin.y + (b.size.height - y) / 2), width, y));
  }
}
