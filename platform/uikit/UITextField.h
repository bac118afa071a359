#pragma once
// A one-line text field. A tap makes it the first responder: from then on the keyboard's text
// (UIKeyInput, fed by the desktop window's key events or by a test) goes into it, until another
// field takes over or it resigns. While editing it shows a caret and, when the clear-button mode
// says so and there is text, a clear button at its right end that empties it. Without text it
// shows its placeholder in grey. Sends UIControlEventEditingChanged on every change made by
// typing or clearing. Main thread only.
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

  bool isEditing() const { return editing_; }
  bool becomeFirstResponder();
  bool resignFirstResponder();
  // Whether the clear button shows now, and where.
  bool isClearButtonShown() const;
  CGRect clearButtonRect() const;

  // UIKeyInput.
  void insertText(const std::string& text) override;
  void deleteBackward() override;
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
  // The controller whose view holds the field (the nearest one up its superviews), if any.
  std::shared_ptr<UIViewController> holdingController() const;
  std::string text_;
  std::string placeholder_;
  UIFontRef font_;
  UIColorRef textColor_;
  UITextFieldViewMode clearButtonMode_ = UITextFieldViewMode::Never;
  bool editing_ = false;
};
