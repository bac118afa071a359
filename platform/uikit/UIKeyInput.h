#pragma once
// Keyboard input: the text typed on the desktop's keyboard (or by a test) goes to the first
// responder, the one text input being edited. At most one input is first responder at a time; it
// is held weakly. Return and Escape go to the first responder too; without one they go to the
// controller in front of the key window (an alert), which may act on them. Main thread only.
#include <memory>
#include <string>

// The keys a controller may act on: offered first to the controller holding the field being
// edited, or, while no field is, to the controller in front.
enum class UIKeyCommand { Return, Escape };

// The keys that move the caret of the text being edited: a character (as the eye counts them: a
// letter with its accents is one) to the left or right, the start and the end of the text.
enum class UITextCaretMove { Left, Right, Home, End };

class UIKeyInput {
 public:
  virtual ~UIKeyInput() = default;
  // At the caret: inserts the text, deletes the character before it (Backspace) or after it
  // (Delete).
  virtual void insertText(const std::string& text) = 0;
  virtual void deleteBackward() = 0;
  virtual void deleteForward() {}
  virtual void moveCaret(UITextCaretMove move) {}
  virtual void returnKeyPressed() {}
  virtual void escapeKeyPressed() {}
  // The input stops being the first responder (another one takes over, or it resigns).
  virtual void keyInputWillEnd() {}

  // The input being edited, if any.
  static std::shared_ptr<UIKeyInput> firstResponder();
  // Makes `input` the first responder (none: no input); the previous one hears keyInputWillEnd.
  static void setFirstResponder(const std::shared_ptr<UIKeyInput>& input);

  // What the keyboard delivers, to the first responder (nothing happens without one)...
  static void typeText(const std::string& text);
  static void typeBackspace();
  static void typeDelete();
  static void typeCaretMove(UITextCaretMove move);
  // ...except Return and Escape, which without one go to the controller in front of the key window
  // (the top of what its root controller presents) as a key command.
  static void typeReturn();
  static void typeEscape();
};
