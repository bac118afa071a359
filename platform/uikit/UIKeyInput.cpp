#include "platform/uikit/UIKeyInput.h"

namespace {
std::weak_ptr<UIKeyInput>& current() {
  static std::weak_ptr<UIKeyInput> input;
  return input;
}
}  // namespace

std::shared_ptr<UIKeyInput> UIKeyInput::firstResponder() { return current().lock(); }

void UIKeyInput::setFirstResponder(const std::shared_ptr<UIKeyInput>& input) {
  auto previous = current().lock();
  if (previous == input) return;
  current() = input;
  if (previous) previous->keyInputWillEnd();
}

void UIKeyInput::typeText(const std::string& text) {
  if (auto input = firstResponder()) input->insertText(text);
}

void UIKeyInput::typeBackspace() {
  if (auto input = firstResponder()) input->deleteBackward();
}

void UIKeyInput::typeReturn() {
  if (auto input = firstResponder()) input->returnKeyPressed();
}

void UIKeyInput::typeEscape() {
  if (auto input = firstResponder()) input->escapeKeyPressed();
}
