#pragma once
// A view that lines up its arranged subviews along one axis, one after another with `spacing`
// between them, each as long across the axis as the stack. Along the axis an arranged view keeps
// the length its own active size constraint (width = constant, height = constant) gives, else its
// intrinsic size; views with neither share what is left equally. The stack's intrinsic length is
// the sum of the known lengths and spacings. Hidden arranged views take no room. Main thread only.
#include <vector>

#include "platform/uikit/UIView.h"

enum class UILayoutConstraintAxis { Horizontal, Vertical };

class UIStackView : public UIView {
 public:
  UIStackView() = default;
  explicit UIStackView(const CGRect& frame) : UIView(frame) {}

  void setAxis(UILayoutConstraintAxis axis);
  void setSpacing(double spacing);

  // Adds the view as the last arranged view (and as a subview); it is laid out by the stack from
  // now on, so it stops translating its autoresizing mask.
  void addArrangedSubview(const UIViewRef& view);
  // Stops arranging the view; it stays a subview.
  void removeArrangedSubview(const UIViewRef& view);

  CGSize intrinsicContentSize() const override;
  void layoutSubviews() override;

  // The length along the axis a view asks for, or a negative number when it asks for none.
  double requestedLength(const UIView& view) const;

 private:
  void arrangedChanged();
  std::vector<UIViewRef> visibleArranged() const;
  UILayoutConstraintAxis axis_ = UILayoutConstraintAxis::Horizontal;
  double spacing_ = 0;
  std::vector<UIViewRef> arranged_;
};
