#pragma once
// The frequency scale lying over the left edge of the sonogram: labels and ticks with frequency
// growing upwards. Every style value, label count and the scale type come from the container that
// made it; without one it draws nothing.
#include <memory>
#include <vector>

#include "analysis/UIScaleView.h"

class UISpectrumContainerView;

class UISpectrumSonogramScaleView : public UIScaleView {
 public:
  using UIScaleView::UIScaleView;

  std::shared_ptr<UISpectrumContainerView> containerView() const { return containerView_.lock(); }
  void setContainerView(const std::shared_ptr<UISpectrumContainerView>& container) { containerView_ = container; }

  struct Label {
    std::string text;
    float frequency = 0;
    double y = 0;  // the label's centre line and tick, view coordinates (y down)
    // Where the text's top-left corner is drawn: beside its tick, moved inward only as far as it
    // takes to keep the text whole inside the scale when its tick lies inside it.
    CGPoint origin{0, 0};
  };
  // The labels of a scale `height` points tall, from the container's settings; empty without one.
  // Their texts are measured at this view's contentScaleFactor, the scale it draws them at.
  std::vector<Label> computeLabels(double height) const;

  void drawRect(const CGRect& rect) override;

 private:
  std::weak_ptr<UISpectrumContainerView> containerView_;
};
