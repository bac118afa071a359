#pragma once
// An overlay for marker lines with labels. The chart does not place one (the spectrum view draws
// its own marker); it keeps its style and draws an empty, flipped layer.
#include <memory>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/graphics/UIFont.h"
#include "platform/uikit/UIView.h"

class UIMarkersView : public UIView {
 public:
  // initWithFrame: — axis colour white, axis width 2.
  explicit UIMarkersView(const CGRect& frame);

  // setMarkers: does not take the list: the overlay shows no markers of its own.
  void setMarkers(const std::vector<Value>& markers);
  const std::vector<Value>& markers() const { return markers_; }

  void drawRect(const CGRect& rect) override;

  double axisWidth = 2;
  UIColorRef axisColor;
  UIColorRef fontColor;
  UIColorRef labelsBg;
  UIFontRef labelsFont;

 private:
  std::vector<Value> markers_;
};
