#include "platform/uikit/UIKeyInput.h"

#include "platform/uikit/UIViewController.h"
#include "platform/uikit/UIWindow.h"

namespace {
std::weak_ptr<UIKeyInput>& current() {
  static std::weak_ptr<UIKeyInput> input;
  return input;
}

// The controller the user faces: the last of the chain of controllers presented from the key
// window's root controller (the root itself when nothing is presented).
std::shared_ptr<UIViewController> frontController() {
  auto window = UIWindow::keyWindow();
  auto controller = window ? window->rootViewController() : nullptr;
  while (controller) {
    auto presented = controller->presentedViewController();
    if (!presented || presented == controller) break;
    controller = presented;
  }
  return controller;
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

void UIKeyInput::typeDelete() {
  if (auto input = firstResponder()) input->deleteForward();
}

void UIKeyInput::typeCaretMove(UITextCaretMove move) {
  if (auto input = firstResponder()) input->moveCaret(move);
}

void UIKeyInput::typeReturn() {
  if (auto input = firstResponder()) {
    input->returnKeyPressed();
  } else if (auto controller = frontController()) {
    controller->performKeyCommand(UIKeyCommand::Return);
  }
}

void UIKeyInput::typeEscape() {
  if (auto input = firstResponder()) {
    input->escapeKeyPressed();
  } else if (auto controller = frontController()) {
    controller->performKeyCommand(UIKeyCommand::Escape);
  }
}
