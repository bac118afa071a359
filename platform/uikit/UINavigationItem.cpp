#include "platform/uikit/UINavigationItem.h"

namespace {
const char* systemTitle(UIBarButtonSystemItem item) {
  switch (item) {
    case UIBarButtonSystemItem::Done: return "Done";
    case UIBarButtonSystemItem::Cancel: return "Cancel";
    case UIBarButtonSystemItem::Edit: return "Edit";
    case UIBarButtonSystemItem::Save: return "Save";
    case UIBarButtonSystemItem::Add: return "+";
  }
  return "";
}
}  // namespace

std::shared_ptr<UIBarButtonItem> UIBarButtonItem::itemWithTitle(std::string title, Action action) {
  return std::make_shared<UIBarButtonItem>(std::move(title), nullptr, std::nullopt, std::move(action));
}

std::shared_ptr<UIBarButtonItem> UIBarButtonItem::itemWithSystemItem(UIBarButtonSystemItem systemItem, Action action) {
  return std::make_shared<UIBarButtonItem>(std::string(systemTitle(systemItem)), nullptr, systemItem, std::move(action));
}

void UIBarButtonItem::performAction() {
  if (!enabled_ || !action_) return;
  action_(shared_from_this());
}
