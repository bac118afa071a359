#include "platform/uikit/UITextField.h"

#include <cairo.h>
#include <pango/pango.h>

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

#include "platform/foundation/NSString.h"
#include "platform/graphics/NSAttributedString.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/uikit/UIViewController.h"

namespace {
constexpr double kPadding = 8;
constexpr double kClearButton = 18;
constexpr double kCaretWidth = 2;

// The start of the last UTF-8 code point of a text (0 for an empty text).
size_t lastCodePointStart(std::string_view s) {
  size_t i = s.size();
  while (i > 0) {
    --i;
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) break;
  }
  return i;
}

// The text as the field keeps it: UTF-8 throughout, each byte that does not belong to a
// character (and each NUL, which would end the text for the layout) as U+FFFD.
std::string validText(std::string_view s) {
  std::string out = ns::validUTF8(s);
  for (size_t at = out.find('\0'); at != std::string::npos; at = out.find('\0', at)) out.replace(at, 1, "\xEF\xBF\xBD");
  return out;
}

// Where a caret may stand in a text the field keeps: the byte offsets, from 0 to the text's size,
// between characters as the eye counts them (a letter with its combining accents is one, so is a
// flag), which is how Left, Right and Delete step.
std::vector<size_t> caretStops(const std::string& text) {
  std::vector<size_t> starts;  // where each code point begins
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  std::vector<PangoLogAttr> attrs(starts.size() + 1);
  pango_get_log_attrs(text.data(), static_cast<int>(text.size()), -1, pango_language_get_default(), attrs.data(),
                      static_cast<int>(attrs.size()));
  std::vector<size_t> stops{0};
  for (size_t k = 1; k <= starts.size(); ++k) {
    if (attrs[k].is_cursor_position || k == starts.size()) stops.push_back(k < starts.size() ? starts[k] : text.size());
  }
  return stops;
}

// The last stop before `at` (0 at the start) and the first stop after it (the end at the end).
size_t stopBefore(const std::string& text, size_t at) {
  const auto stops = caretStops(text);
  auto it = std::lower_bound(stops.begin(), stops.end(), at);
  return it == stops.begin() ? 0 : *(it - 1);
}
size_t stopAfter(const std::string& text, size_t at) {
  const auto stops = caretStops(text);
  auto it = std::upper_bound(stops.begin(), stops.end(), at);
  return it == stops.end() ? text.size() : *it;
}
// `at` itself when a caret may stand there, else the nearest stop before or after it.
size_t stopAtOrBefore(const std::string& text, size_t at) { return stopBefore(text, at + 1); }
size_t stopAtOrAfter(const std::string& text, size_t at) { return at == 0 ? 0 : stopAfter(text, at - 1); }
}  // namespace

UITextField::UITextField(const CGRect& frame)
    : UIControl(frame), font_(UIFont::systemFontOfSize(15)), textColor_(UIColor::blackColor()) {}

void UITextField::setText(std::string textIn) {
  std::string text = validText(textIn);
  if (text.size() > kMaxTextBytes) text.resize(lastCodePointStart(std::string_view(text).substr(0, kMaxTextBytes + 1)));
  text_ = std::move(text);
  caret_ = text_.size();
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
  caret_ = text_.size();
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
  std::string kept;
  for (char c : typed) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) kept += c;
  }
  const std::string clean = validText(kept);
  if (clean.empty()) return;
  if (text_.size() + clean.size() > kMaxTextBytes) return;
  text_.insert(caret_, clean);
  caret_ += clean.size();
  // A letter typed before an accent takes the accent: the caret goes after both.
  caret_ = stopAtOrAfter(text_, caret_);
  changed();
}

void UITextField::deleteBackward() {
  if (caret_ == 0) return;
  // One code point, as before: an accent typed last comes off its letter alone.
  const size_t start = lastCodePointStart(std::string_view(text_).substr(0, caret_));
  text_.erase(start, caret_ - start);
  caret_ = stopAtOrBefore(text_, start);
  changed();
}

void UITextField::deleteForward() {
  if (caret_ >= text_.size()) return;
  text_.erase(caret_, stopAfter(text_, caret_) - caret_);
  changed();
}

void UITextField::moveCaret(UITextCaretMove move) {
  size_t to = caret_;
  switch (move) {
    case UITextCaretMove::Left: to = stopBefore(text_, caret_); break;
    case UITextCaretMove::Right: to = stopAfter(text_, caret_); break;
    case UITextCaretMove::Home: to = 0; break;
    case UITextCaretMove::End: to = text_.size(); break;
  }
  if (to == caret_) return;
  caret_ = to;
  setNeedsDisplay();
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
    caret_ = 0;
    changed();
  }
  becomeFirstResponder();
}

CGSize UITextField::intrinsicContentSize() const {
  NSAttributes a;
  a.font = font_;
  const double h = NSAttributedString("Ag", a).sizeAtScale(0, contentScaleFactor()).height;
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
  // Measured in the context the text is drawn into: at a scale of 2 the advances differ from those
  // at 1 (a character no font has is a box a few points wider), and the caret must stand on the
  // boundary as drawn.
  const CGSize size = s.size(0, c);
  const double caretX = empty ? 0 : s.caretOffset(ns::utf16Length(std::string_view(text_).substr(0, caret_)), c);
  const double x = textOrigin(area, size.width, caretX);
  const double y = CGRectGetMidY(area) - size.height / 2;
  CGContextSaveGState(c);
  CGContextBeginPath(c);
  CGContextAddRect(c, area);
  cairo_clip(c->cairo());
  if (!s.string().empty()) s.drawAtPoint({x, y});
  if (editing_) {
    // Centred on the boundary between the characters it stands between.
    const double left = std::max(area.origin.x, std::min(x + caretX - kCaretWidth / 2, CGRectGetMaxX(area) - kCaretWidth));
    CGContextSetFillColorWithColor(c, tintColor());
    CGContextFillRect(c, CGRectMake(left, y, kCaretWidth, size.height));
  }
  CGContextRestoreGState(c);
}

double UITextField::textOrigin(const CGRect& area, double textWidth, double caretX) {
  // Not editing: a text wider than the field shows its end, where typing happens (and where the
  // scrolling starts from when editing begins).
  if (!editing_) {
    scrollX_ = std::max(0.0, textWidth - area.size.width);
    return area.origin.x - scrollX_;
  }
  // Editing: room for the caret after the last character too, and the least scrolling that keeps
  // the caret in view.
  const double room = std::max(1.0, area.size.width - kCaretWidth);
  if (textWidth <= room) {
    scrollX_ = 0;
    return area.origin.x;
  }
  scrollX_ = std::clamp(scrollX_, caretX - room, caretX);
  scrollX_ = std::clamp(scrollX_, 0.0, textWidth - room);
  return area.origin.x - scrollX_;
}
