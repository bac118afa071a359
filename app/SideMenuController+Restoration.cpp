// The side-menu container's state restoration: the configuration, the children and the position.
#include <cmath>

#include "app/SideMenuController.h"
#include "app/SideMenuView.h"
#include "platform/foundation/NSLog.h"
#include "platform/uikit/UIStateRestoration.h"

namespace {
constexpr const char* kRear = "_rearViewController";
constexpr const char* kRight = "_rightViewController";
constexpr const char* kFront = "_frontViewController";
}  // namespace

void SideMenuController::encodeRestorableStateWithCoder(NSCoder& coder) {
  UIStateRestoration::encodeViewController(coder, rearViewController_, kRear);
  UIStateRestoration::encodeViewController(coder, rightViewController_, kRight);
  UIStateRestoration::encodeViewController(coder, frontViewController_, kFront);
  coder.encodeInteger(frontViewPosition_, "_frontViewPosition");
  coder.encodeDouble(rearViewPanelWidth, "_rearViewPanelWidth");
  coder.encodeDouble(rightViewPanelWidth, "_rightViewPanelWidth");
  coder.encodeDouble(rearViewPanelOverdraw, "_rearViewPanelOverdraw");
  coder.encodeDouble(rightViewPanelOverdraw, "_rightViewPanelOverdraw");
  coder.encodeDouble(rearViewPanelDisplacement, "_rearViewPanelDisplacement");
  coder.encodeDouble(rightViewPanelDisplacement, "_rightViewPanelDisplacement");
  coder.encodeDouble(draggableBorderWidth, "_draggableBorderWidth");
  coder.encodeBool(bounceBackOnOverdraw, "_bounceBackOnOverdraw");
  coder.encodeBool(bounceBackOnLeftOverdraw, "_bounceBackOnLeftOverdraw");
  coder.encodeBool(stableDragOnOverdraw, "_stableDragOnOverdraw");
  coder.encodeBool(stableDragOnLeftOverdraw, "_stableDragOnLeftOverdraw");
  coder.encodeBool(presentFrontViewHierarchically, "_presentFrontViewHierarchically");
  coder.encodeDouble(quickFlickVelocity, "_quickFlickVelocity");
  coder.encodeDouble(toggleAnimationDuration, "_toggleAnimationDuration");
  coder.encodeInteger(toggleAnimationType, "_toggleAnimationType");
  coder.encodeDouble(springDampingRatio, "_springDampingRatio");
  coder.encodeDouble(replaceViewAnimationDuration, "_replaceViewAnimationDuration");
  coder.encodeDouble(frontViewShadowRadius_, "_frontViewShadowRadius");
  UIStateRestoration::encodeCGSize(coder, frontViewShadowOffset_, "_frontViewShadowOffset");
  coder.encodeDouble(frontViewShadowOpacity_, "_frontViewShadowOpacity");
  UIStateRestoration::encodeColor(coder, frontViewShadowColor_, "_frontViewShadowColor");
  coder.encodeBool(userInteractionStore_, "_userInteractionStore");
  coder.encodeBool(clipsViewsToBounds_, "_clipsViewsToBounds");
  coder.encodeBool(extendsPointInsideHit, "_extendsPointInsideHit");
  UIViewController::encodeRestorableStateWithCoder(coder);
}

void SideMenuController::decodeRestorableStateWithCoder(NSCoder& coder) {
  // Everything is read first and applied only when the archive as a whole reads: a field of
  // another type or out of its range keeps the value the controller has.
  auto number = [&](const char* key, double current, bool (*acceptable)(double)) {
    auto v = UIStateRestoration::decodeNumber(coder, key);
    return v && std::isfinite(*v) && acceptable(*v) ? *v : current;
  };
  auto flag = [&](const char* key, bool current) { return UIStateRestoration::decodeFlag(coder, key).value_or(current); };
  auto anyFinite = [](double) { return true; };
  auto notNegative = [](double v) { return v >= 0; };
  auto positive = [](double v) { return v > 0; };
  auto durationRange = [](double v) { return v >= 0 && v <= kMaxAnimationDuration; };
  auto unitRange = [](double v) { return v >= 0 && v <= 1; };
  auto dampingRange = [](double v) { return v > 0 && v <= 1; };

  // A child the archive names but that cannot be found again keeps the one in place.
  UIViewControllerRef rear = rearViewController_, right = rightViewController_, front = frontViewController_;
  if (auto c = UIStateRestoration::decodeViewController(coder, kRear)) rear = c;
  if (auto c = UIStateRestoration::decodeViewController(coder, kRight)) right = c;
  if (auto c = UIStateRestoration::decodeViewController(coder, kFront)) front = c;
  FrontViewPosition position = frontViewPosition_;
  if (auto v = UIStateRestoration::decodeNumber(coder, "_frontViewPosition");
      v && *v == std::floor(*v) && *v >= PositionRightRemoved && *v <= PositionRearRemoved) {
    position = static_cast<int32_t>(*v);
  }
  const double rearWidth = number("_rearViewPanelWidth", rearViewPanelWidth, anyFinite);
  const double rightWidth = number("_rightViewPanelWidth", rightViewPanelWidth, anyFinite);
  const double rearOverdraw = number("_rearViewPanelOverdraw", rearViewPanelOverdraw, notNegative);
  const double rightOverdraw = number("_rightViewPanelOverdraw", rightViewPanelOverdraw, notNegative);
  const double rearDisplacement = number("_rearViewPanelDisplacement", rearViewPanelDisplacement, notNegative);
  const double rightDisplacement = number("_rightViewPanelDisplacement", rightViewPanelDisplacement, notNegative);
  const double border = number("_draggableBorderWidth", draggableBorderWidth, notNegative);
  const bool bounce = flag("_bounceBackOnOverdraw", bounceBackOnOverdraw);
  const bool bounceLeft = flag("_bounceBackOnLeftOverdraw", bounceBackOnLeftOverdraw);
  const bool stable = flag("_stableDragOnOverdraw", stableDragOnOverdraw);
  const bool stableLeft = flag("_stableDragOnLeftOverdraw", stableDragOnLeftOverdraw);
  const bool hierarchical = flag("_presentFrontViewHierarchically", presentFrontViewHierarchically);
  const double flick = number("_quickFlickVelocity", quickFlickVelocity, positive);
  const double toggleDuration = number("_toggleAnimationDuration", toggleAnimationDuration, durationRange);
  ToggleAnimationType type = toggleAnimationType;
  if (auto v = UIStateRestoration::decodeNumber(coder, "_toggleAnimationType"); v && (*v == 0 || *v == 1)) {
    type = static_cast<ToggleAnimationType>(static_cast<int64_t>(*v));
  }
  const double damping = number("_springDampingRatio", springDampingRatio, dampingRange);
  const double replaceDuration = number("_replaceViewAnimationDuration", replaceViewAnimationDuration, durationRange);
  const double shadowRadius = number("_frontViewShadowRadius", frontViewShadowRadius_, notNegative);
  const CGSize shadowOffset = UIStateRestoration::decodeCGSize(coder, "_frontViewShadowOffset").value_or(frontViewShadowOffset_);
  const double shadowOpacity = number("_frontViewShadowOpacity", frontViewShadowOpacity_, unitRange);
  UIColorRef shadowColor = UIStateRestoration::decodeColor(coder, "_frontViewShadowColor");
  if (!shadowColor) shadowColor = frontViewShadowColor_;
  const bool interaction = flag("_userInteractionStore", userInteractionStore_);
  const bool clips = flag("_clipsViewsToBounds", clipsViewsToBounds_);
  const bool extendsHit = flag("_extendsPointInsideHit", extendsPointInsideHit);
  UIViewController::decodeRestorableStateWithCoder(coder);
  if (auto error = coder.error()) {
    NSLog("SideMenuController: the restoration archive is not used: %s", error->localizedDescription().c_str());
    return;
  }

  rearViewPanelWidth = rearWidth;
  rightViewPanelWidth = rightWidth;
  rearViewPanelOverdraw = rearOverdraw;
  rightViewPanelOverdraw = rightOverdraw;
  rearViewPanelDisplacement = rearDisplacement;
  rightViewPanelDisplacement = rightDisplacement;
  draggableBorderWidth = border;
  bounceBackOnOverdraw = bounce;
  bounceBackOnLeftOverdraw = bounceLeft;
  stableDragOnOverdraw = stable;
  stableDragOnLeftOverdraw = stableLeft;
  presentFrontViewHierarchically = hierarchical;
  quickFlickVelocity = flick;
  toggleAnimationDuration = toggleDuration;
  toggleAnimationType = type;
  springDampingRatio = damping;
  replaceViewAnimationDuration = replaceDuration;
  frontViewShadowRadius_ = shadowRadius;
  frontViewShadowOffset_ = shadowOffset;
  frontViewShadowOpacity_ = shadowOpacity;
  frontViewShadowColor_ = shadowColor;
  userInteractionStore_ = interaction;
  clipsViewsToBounds_ = clips;
  extendsPointInsideHit = extendsHit;
  if (contentView_) {
    contentView_->reloadShadow();
    contentView_->setClipsToBounds(clips);
  }
  // A new, empty queue; then the children and the position through their setters.
  animationQueue_.clear();
  setRearViewController(rear);
  setRightViewController(right);
  setFrontViewController(front);
  setFrontViewPosition(position);
}

std::shared_ptr<SideMenuController> SideMenuController::viewControllerWithRestorationIdentifierPath(
    const std::vector<std::string>& path, const std::shared_ptr<UIStoryboard>& storyboard) {
  if (!storyboard) return nullptr;
  auto controller = std::dynamic_pointer_cast<SideMenuController>(
      storyboard->instantiateViewControllerWithIdentifier("SideMenuController"));
  if (controller && !path.empty()) controller->setRestorationIdentifier(path.back());
  return controller;
}
