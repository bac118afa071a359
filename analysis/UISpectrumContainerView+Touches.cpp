// The container's side of the touch marker: a touch's position becomes a marker position on the
// spectrum view, and the readings there go to the delegate.
#include "analysis/UISpectrumContainerView.h"
#include "platform/uikit/UIScreen.h"

void UISpectrumContainerView::touchToDelegate(const UITouch& touch) {
  if (!spectrumView_) return;
  const double x = touch.locationInView(this).x;
  const float px = static_cast<float>((x - currentLeftPadding_) * UIScreen::mainScreen().scale());
  std::vector<Value> readings;
  if (auto value = spectrumView_->getValueByX(px)) readings.push_back(*value);
  if (spectrumView_->isHoldMaximum()) readings.push_back(spectrumView_->getValueMaximumByX(px));
  if (spectrumView_->isHoldMinimum()) readings.push_back(spectrumView_->getValueMinimumByX(px));
  spectrumView_->setMarkerAt(px);
  if (auto target = delegate_.lock()) target->onTouch(readings);
}

void UISpectrumContainerView::touchesBegan(const UITouchSet& touches, const UIEvent*) {
  if (touches.empty() || !touches.front()) return;
  touchToDelegate(*touches.front());
}

void UISpectrumContainerView::touchesMoved(const UITouchSet& touches, const UIEvent*) {
  if (touches.empty() || !touches.front()) return;
  touchToDelegate(*touches.front());
  if (spectrumView_ && !spectrumView_->isMarkerVisible()) {
    if (auto target = delegate_.lock()) target->onRemoveMarker();
  }
}

void UISpectrumContainerView::touchesEnded(const UITouchSet&, const UIEvent*) {
  if (auto target = delegate_.lock()) target->onTouchEnd();
}

std::optional<std::vector<Value>> UISpectrumContainerView::getCurrentValues() {
  if (!spectrumView_) return std::nullopt;
  const float px = spectrumView_->getCurrentX();
  auto value = spectrumView_->getValueByX(px);
  if (!value) return std::nullopt;
  std::vector<Value> readings{*value};
  if (spectrumView_->isHoldMaximum()) readings.push_back(spectrumView_->getValueMaximumByX(px));
  if (spectrumView_->isHoldMinimum()) readings.push_back(spectrumView_->getValueMinimumByX(px));
  spectrumView_->setMarkerAt(px);
  return readings;
}
