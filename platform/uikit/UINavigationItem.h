#pragma once
// What a controller shows in the navigation bar while it is on top of a navigation stack: its
// title (the controller's title when none is set here) and a button at the right end.
// Main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/graphics/UIImage.h"

enum class UIBarButtonSystemItem { Done, Cancel, Edit, Save, Add };

// A button of a bar: a title, an image or a system item, and the action its tap runs (with the
// item as the sender).
class UIBarButtonItem : public std::enable_shared_from_this<UIBarButtonItem> {
 public:
  using Action = std::function<void(const std::shared_ptr<UIBarButtonItem>& sender)>;
  static std::shared_ptr<UIBarButtonItem> itemWithTitle(std::string title, Action action);
  static std::shared_ptr<UIBarButtonItem> itemWithSystemItem(UIBarButtonSystemItem item, Action action);
  UIBarButtonItem(std::string title, UIImageRef image, std::optional<UIBarButtonSystemItem> systemItem, Action action)
      : title_(std::move(title)), image_(std::move(image)), systemItem_(systemItem), action_(std::move(action)) {}

  const std::string& title() const { return title_; }
  UIImageRef image() const { return image_; }
  std::optional<UIBarButtonSystemItem> systemItem() const { return systemItem_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  // What a tap does: the action with this item as the sender (nothing while disabled).
  void performAction();

 private:
  std::string title_;
  UIImageRef image_;
  std::optional<UIBarButtonSystemItem> systemItem_;
  Action action_;
  bool enabled_ = true;
};

class UINavigationItem {
 public:
  std::shared_ptr<UIBarButtonItem> rightBarButtonItem() const { return right_; }
  void setRightBarButtonItem(std::shared_ptr<UIBarButtonItem> item) { right_ = std::move(item); }

 private:
  std::shared_ptr<UIBarButtonItem> right_;
};
