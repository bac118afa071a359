// The storyboard's segues of the side-menu container.
#include "app/SideMenuSegues.h"

#include "app/SideMenuController.h"

void SideMenuControllerSegueSetController::perform() {
  auto menu = std::dynamic_pointer_cast<SideMenuController>(sourceViewController());
  if (!menu) return;
  const auto& id = identifier();
  if (id == "sm_rear") menu->performTransitionOperation(OperationRear, destinationViewController(), false);
  else if (id == "sm_front") menu->performTransitionOperation(OperationFront, destinationViewController(), false);
  else if (id == "sm_right") menu->performTransitionOperation(OperationRight, destinationViewController(), false);
}

UIStoryboardSegueDefinition SideMenuControllerSegueSetController::definition(const std::string& destination) {
  UIStoryboardSegueDefinition d;
  d.destination = destination;
  d.kind = UIStoryboardSegueKind::Custom;
  d.perform = [](UIStoryboardSegue& segue) {
    SideMenuControllerSegueSetController(segue.identifier(), segue.sourceViewController(),
                                         segue.destinationViewController(), {})
        .perform();
  };
  return d;
}

void SideMenuControllerSeguePushController::perform() {
  auto source = sourceViewController();
  if (!source) return;
  if (auto menu = sideMenuController(*source)) menu->pushFrontViewController(destinationViewController(), true);
}

UIStoryboardSegueDefinition SideMenuControllerSeguePushController::definition(const std::string& destination) {
  UIStoryboardSegueDefinition d;
  d.destination = destination;
  d.kind = UIStoryboardSegueKind::Custom;
  d.perform = [](UIStoryboardSegue& segue) {
    SideMenuControllerSeguePushController(segue.identifier(), segue.sourceViewController(),
                                          segue.destinationViewController(), {})
        .perform();
  };
  return d;
}
