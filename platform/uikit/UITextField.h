#pragma once
// A one-line text field. A tap makes it the first responder: from then on the keyboard's text
// (UIKeyInput, fed by the desktop window's key events or by a test) goes into it, until another
// field takes over or it resigns. Typing, Backspace and Delete edit at the caret, which Left,
// Right, Home and End move and which stands at the end of the text when editing begins or the
// text is set. While editing it shows the caret where it stands (a text wider than the field
// scrolls to keep it in view; otherwise the field shows the text's end) and, when the
// clear-button mode says so and there is text, a clear button at its right end that empties it.
// Without text it shows its placeholder in grey. Sends UIControlEventEditingChanged on every
// change made by typing or clearing. Text that is not UTF-8 is taken with U+FFFD for the bytes
// that are not. Main thread only.
#include <memory>
#include <optional>
#include <string>

#include "platform/graphics/UIFont.h"
#include "platform/uikit/UIControl.h"
#include "platform/uikit/UIKeyInput.h"

enum class UITextFieldViewMode { Never, WhileEditing, UnlessEditing, Always };

inline constexpr uint32_t UIControlEventEditingDidBegin = 1 << 16;
inline constexpr uint32_t UIControlEventEditingChanged = 1 << 17;
inline constexpr uint32_t UIControlEventEditingDidEnd = 1 << 18;
inline constexpr uint32_t UIControlEventEditingDidEndOnExit = 1 << 19;

class UITextField : public UIControl, public UIKeyInput {
 public:
  explicit UITextField(const CGRect& frame = CGRectZero);

  const std::string& text() const { return text_; }
  // Setting the text (code) sends no event.
  void setText(std::string text);
  const std::string& placeholder() const { return placeholder_; }
  void setPlaceholder(std::string placeholder);
  void setFont(UIFontRef font);
  void setTextColor(UIColorRef color);
  UITextFieldViewMode clearButtonMode() const { return clearButtonMode_; }
  void setClearButtonMode(UITextFieldViewMode mode);
  // The longest text the field takes (UTF-8 bytes); typing beyond it is ignored.
  static constexpr size_t kMaxTextBytes = 1024;

  // Where the caret stands: the bytes of the text before it.
  size_t caretPosition() const { return caret_; }

  bool isEditing() const { return editing_; }
  bool becomeFirstResponder();
  bool resignFirstResponder();
  // Whether the clear button shows now, and where.
  bool isClearButtonShown() const;
  CGRect clearButtonRect() const;

  // UIKeyInput.
  void insertText(const std::string& text) override;
  void deleteBackward() override;
  void deleteForward() override;
  void moveCaret(UITextCaretMove move) override;
  // Return: offered to the controller holding the field first; when it does not take it, sends
  // UIControlEventEditingDidEndOnExit and ends editing. Escape: offered to that controller only.
  void returnKeyPressed() override;
  void escapeKeyPressed() override;
  void keyInputWillEnd() override;

  void drawRect(const CGRect& rect) override;
  CGSize intrinsicContentSize() const override;
  void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;

 private:
  void changed();
  // Where the text is drawn: its left edge, for the area it is drawn in and its width, keeping
  // the caret in view while editing (the area scrolled by scrollX_).
  double textOrigin(const CGRect& area, double textWidth, double caretX);
  // The controller whose view holds the field (the nearest one up its superviews), if any.
  std::shared_ptr<UIViewController> holdingController() const;
  std::string text_;
  std::string placeholder_;
  UIFontRef font_;
  UIColorRef textColor_;
  UITextFieldViewMode clearButtonMode_ = UITextFieldViewMode::Never;
  bool editing_ = false;
  size_t caret_ = 0;       // a character boundary of text_
  double scrollX_ = 0;     // how far a text wider than the field is scrolled, as last drawn
};
