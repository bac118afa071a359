#include "app/AEProductController.h"

#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSObjCRuntime.h"

std::shared_ptr<AEProductController> AEProductController::sharedInstance() {
  static std::shared_ptr<AEProductController> instance = std::make_shared<AEProductController>();
  return instance;
}

bool AEProductController::isAvailable() { return NSClassFromString(SKStoreProductViewControllerClassName).has_value(); }

void AEProductController::showAppStore() {
  if (!isAvailable()) return;
  // A platform that registers the class would make its page here; this one never does.
  NSLog("AEProductController: the store's page controller is registered but cannot be made on this platform");
}

void AEProductController::productViewControllerDidFinish(const UIViewControllerRef& page) {
  if (page) page->dismissViewControllerAnimated(true, [] {});
}
