#pragma once
// What the application's storyboards build their screens with.
#include <memory>

#include "platform/graphics/UIImage.h"
#include "platform/uikit/UIButton.h"
#include "platform/uikit/UIView.h"

namespace storyboard {

// Adds the view to parent, to be placed by layout constraints (not by its autoresizing mask).
template <class T>
std::shared_ptr<T> constrained(const UIViewRef& parent, std::shared_ptr<T> view) {
  view->setTranslatesAutoresizingMaskIntoConstraints(false);
  parent->addSubview(view);
  return view;
}

// A button shown as the bundle image named (and the other one named when selected).
inline std::shared_ptr<UIButton> roundButton(const char* image, const char* selectedImage = nullptr) {
  auto button = std::make_shared<UIButton>();
  button->setImage(UIImage::imageNamed(image), UIControlStateNormal);
  if (selectedImage) button->setImage(UIImage::imageNamed(selectedImage), UIControlStateSelected);
  return button;
}

}  // namespace storyboard
