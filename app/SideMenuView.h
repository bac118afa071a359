#pragma once
#include <memory>

#include "app/SideMenuController.h"
#include "platform/uikit/UIView.h"

// The container's view: the front view and, while deployed, the rear and right views below it.
class SideMenuView : public UIView {
 public:
  static std::shared_ptr<SideMenuView> create(const CGRect& frame, const std::shared_ptr<SideMenuController>& controller);
  SideMenuView(const CGRect& frame, const std::shared_ptr<SideMenuController>& controller);

  UIViewRef frontView() const { return frontView_; }
  UIViewRef rearView() const { return rearView_; }
  UIViewRef rightView() const { return rightView_; }
  bool disableLayout = false;

  // The front view's x for a position (0 for PositionNone and unknown positions).
  double frontLocationForPosition(FrontViewPosition position) const;
  void layoutSubviews() override;
  bool pointInside(CGPoint point, const UIEvent* event) const override;
  void reloadShadow();
  void prepareRearViewForPosition(FrontViewPosition newPosition);
  void prepareRightViewForPosition(FrontViewPosition newPosition);
  void unloadRearView();
  void unloadRightView();
  // Moves the front view to x, elastic beyond the panel (a drag in progress).
  void dragFrontViewToXLocation(double xLocation);
  // Lays the side views out for a front location.
  void layoutRearViewsForLocation(double xLocation);
  double adjustedDragLocationForLocation(double xLocation) const;

 private:
  void prepareForNewPosition(FrontViewPosition newPosition);
  CGRect hierarchicalFrameAdjustment(CGRect frame) const;
  std::weak_ptr<SideMenuController> controller_;
  UIViewRef frontView_, rearView_, rightView_;
};
