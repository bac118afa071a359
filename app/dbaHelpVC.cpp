#include "app/dbaHelpVC.h"

#include "platform/foundation/NSBundle.h"

void dbaHelpVC::viewDidLoad() {
  UIViewController::viewDidLoad();
  web->setBackgroundColor(UIColor::clearColor());
  web->setOpaque(false);
  web->loadRequest(NSURLRequest(NSLocalizedString("dbchartpage"),
                                NSURLRequest::CachePolicy::ReloadIgnoringLocalAndRemoteCacheData, 30.0));
}

void dbaHelpVC::closeView(const std::shared_ptr<UIButton>&) { dismissViewControllerAnimated(true); }
