// A side-menu container's restoration archive (state the platform kept between runs) read back
// into a container that is then laid out and moved: no field may leave it degenerate.
#include <cmath>
#include <cstdlib>

#include "app/SideMenuController.h"
#include "app/SideMenuView.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIStateRestoration.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = [] {
    UIScreen::mainScreen().configure({568, 320}, 1);
    return true;
  }();
  (void)once;
  auto menu = std::make_shared<SideMenuController>();
  auto front = std::make_shared<UIViewController>(), right = std::make_shared<UIViewController>();
  front->setRestorationIdentifier("front");
  right->setRestorationIdentifier("right");
  menu->setFrontViewController(front);
  menu->setRightViewController(right);
  Bytes archive(data, data + size);
  UIStateRestoration::restoreState(*menu, archive, [&](const std::vector<std::string>& path) -> UIViewControllerRef {
    if (path.empty()) return nullptr;
    if (path.back() == "front") return front;
    if (path.back() == "right") return right;
    return nullptr;
  });
  menu->loadViewIfNeeded();
  menu->view()->layoutIfNeeded();
  for (FrontViewPosition p : {PositionRight, PositionRearMost, PositionClosed}) menu->setFrontViewPosition(p, false);
  menu->contentView()->dragFrontViewToXLocation(-400);
  if (!std::isfinite(menu->contentView()->frontView()->frame().origin.x)) std::abort();
  return 0;
}
