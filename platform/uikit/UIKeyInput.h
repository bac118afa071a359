#pragma once
// Keyboard input: the text typed on the desktop's keyboard (or by a test) goes to the first
// responder, the one text input being edited. At most one input is first responder at a time; it
// is held weakly. Main thread only.
#include <memory>
#include <string>

// The keys a controller may act on while a text field of its view is being edited.
enum class UIKeyCommand { Return, Escape };

class UIKeyInput {
 public:
  virtual ~UIKeyInput() = default;
  virtual void insertText(const std::string& text) = 0;
  virtual void deleteBackward() = 0;
  virtual void returnKeyPressed() {}
  virtual void escapeKeyPressed() {}
  // The input stops being the first responder (another one takes over, or it resigns).
  virtual void keyInputWillEnd() {}

  // The input being edited, if any.
  static std::shared_ptr<UIKeyInput> firstResponder();
  // Makes `input` the first responder (none: no input); the previous one hears keyInputWillEnd.
  static void setFirstResponder(const std::shared_ptr<UIKeyInput>& input);

  // What the keyboard delivers, to the first responder (nothing happens without one).
  static void typeText(const std::string& text);
  static void typeBackspace();
  static void typeReturn();
  static void typeEscape();
};
