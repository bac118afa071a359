#include "platform/uikit/UITextField.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "platform/graphics/NSAttributedString.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/uikit/UIViewController.h"

namespace {
constexpr double kPadding = 8;
constexpr double kClearButton = 18;

// The start of the last UTF-8 code point of a text (0 for an empty text).
size_t lastCodePointStart(const std::string& s) {
  size_t i = s.size();
  while (i > 0) {
    --i;
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) break;
  }
  return i;
}
}  // namespace

UITextField::UITextField(const CGRect& frame)
    : UIControl(frame), font_(UIFont::systemFontOfSize(15)), textColor_(UIColor::blackColor()) {}

void UITextField::setText(std::string text) {
  if (text.size() > kMaxTextBytes) text.resize(lastCodePointStart(text.substr(0, kMaxTextBytes + 1)));
  text_ = std::move(text);
  setNeedsDisplay();
}

void UITextField::setPlaceholder(std::string placeholder) {
  placeholder_ = std::move(placeholder);
  setNeedsDisplay();
}

void UITextField::setFont(UIFontRef font) {
  font_ = font ? std::move(font) : UIFont::systemFontOfSize(15);
  setNeedsDisplay();
  invalidateIntrinsicContentSize();
}

void UITextField::setTextColor(UIColorRef color) {
  textColor_ = color ? std::move(color) : UIColor::blackColor();
  setNeedsDisplay();
}

void UITextField::setClearButtonMode(UITextFieldViewMode mode) {
  clearButtonMode_ = mode;
  setNeedsDisplay();
}

bool UITextField::becomeFirstResponder() {
  if (editing_) return true;
  if (!isEnabled()) return false;
  UIKeyInput::setFirstResponder(std::dynamic_pointer_cast<UIKeyInput>(shared_from_this()));
  editing_ = true;
  setNeedsDisplay();
  sendActionsForControlEvents(UIControlEventEditingDidBegin);
  return true;
}

bool UITextField::resignFirstResponder() {
  if (!editing_) return true;
  UIKeyInput::setFirstResponder(nullptr);  // keyInputWillEnd ends the editing
  return true;
}

void UITextField::keyInputWillEnd() {
  if (!editing_) return;
  editing_ = false;
  setNeedsDisplay();
  sendActionsForControlEvents(UIControlEventEditingDidEnd);
}

void UITextField::changed() {
  setNeedsDisplay();
  sendActionsForControlEvents(UIControlEventEditingChanged);
}

void UITextField::insertText(const std::string& typed) {
  // One line: line breaks and other control characters are not taken.
  std::string clean;
  for (char c : typed) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) clean += c;
  }
  if (clean.empty()) return;
  if (text_.size() + clean.size() > kMaxTextBytes) return;
  text_ += clean;
  changed();
}

void UITextField::deleteBackward() {
  if (text_.empty()) return;
  text_.resize(lastCodePointStart(text_));
  changed();
}

std::shared_ptr<UIViewController> UITextField::holdingController() const {
  for (auto view = std::const_pointer_cast<UIView>(shared_from_this()); view; view = view->superview()) {
    if (auto controller = view->viewController()) return controller;
  }
  return nullptr;
}

void UITextField::returnKeyPressed() {
  if (auto controller = holdingController(); controller && controller->performKeyCommand(UIKeyCommand::Return)) return;
  sendActionsForControlEvents(UIControlEventEditingDidEndOnExit);
  resignFirstResponder();
}

void UITextField::escapeKeyPressed() {
  if (auto controller = holdingController()) controller->performKeyCommand(UIKeyCommand::Escape);
}

bool UITextField::isClearButtonShown() const {
  if (text_.empty()) return false;
  switch (clearButtonMode_) {
    case UITextFieldViewMode::Never: return false;
    case UITextFieldViewMode::WhileEditing: return editing_;
    case UITextFieldViewMode::UnlessEditing: return !editing_;
    case UITextFieldViewMode::Always: return true;
  }
  return false;
}

CGRect UITextField::clearButtonRect() const {
  const CGRect b = bounds();
  return CGRectMake(CGRectGetMaxX(b) - kPadding - kClearButton, CGRectGetMidY(b) - kClearButton / 2, kClearButton,
                    kClearButton);
}

void UITextField::touchesEnded(const UITouchSet& touches, const UIEvent* event) {
  auto keep = shared_from_this();
  const bool clear = !touches.empty() && isClearButtonShown() &&
                     CGRectContainsPoint(CGRectInset(clearButtonRect(), -6, -6), touches.front()->locationInView(this));
  UIControl::touchesEnded(touches, event);
  if (!isTouchInside()) return;
  if (clear) {
    text_.clear();
    changed();
  }
  becomeFirstResponder();
}

CGSize UITextField::intrinsicContentSize() const {
  NSAttributes a;
  a.font = font_;
  const double h = NSAttributedString("Ag", a).size().height;
  return {UIViewNoIntrinsicMetric, std::ceil(h + 2 * kPadding)};
}

void UITextField::drawRect(const CGRect&) {
  CGContextRef c = UIGraphicsGetCurrentContext();
  if (!c) return;
  const CGRect b = bounds();
  double right = CGRectGetMaxX(b) - kPadding;
  if (isClearButtonShown()) {
    const CGRect r = clearButtonRect();
    right = r.origin.x - 4;
    UIColorSetFill(UIColor::colorWithWhite(0.55, 1));
    UIBezierPath::bezierPathWithRoundedRect(r, kClearButton / 2)->fill();
    cairo_t* cr = c->cairo();
    cairo_save(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    cairo_set_line_width(cr, 1.6);
    const double k = 4.5, cx = CGRectGetMidX(r), cy = CGRectGetMidY(r);
    cairo_move_to(cr, cx - k, cy - k);
    cairo_line_to(cr, cx + k, cy + k);
    cairo_move_to(cr, cx + k, cy - k);
    cairo_line_to(cr, cx - k, cy + k);
    cairo_stroke(cr);
    cairo_restore(cr);
  }
  const CGRect area = CGRectMake(b.origin.x + kPadding, b.origin.y, std::max(0.0, right - b.origin.x - kPadding), b.size.height);
  NSAttributes a;
  a.font = font_;
  const bool empty = text_.empty();
  a.foregroundColor = empty ? UIColor::colorWithWhite(0.6, 1) : textColor_;
  NSAttributedString s(empty ? placeholder_ : text_, a);
  const CGSize size = s.size();
  // A text wider than the field shows its end, where typing happens.
  const double x = size.width > area.size.width ? CGRectGetMaxX(area) - size.width : area.origin.x;
  const double y = CGRectGetMidY(area) - size.height / 2;
  CGContextSaveGState(c);
  CGContextBeginPath(c);
  CGContextAddRect(c, area);
  cairo_clip(c->cairo());
  if (!s.string().empty()) s.drawAtPoint({x, y});
  if (editing_) {
    const double caretX = empty ? area.origin.x : std::min(x + size.width + 1, CGRectGetMaxX(area) - 1);
    CGContextSetFillColorWithColor(c, tintColor());
    CGContextFillRect(c, CGRectMake(caretX, y, 2, size.height));
  }
  CGContextRestoreGState(c);
}
