#pragma once
// The store's product page. This platform has no store: no page controller class is registered at
// run time (NSClassFromString("SKStoreProductViewController") answers none), so code asks for it
// and finds it absent, as it would on a device without the store. What stands is the delegate
// protocol and the parameter key, for objects written against them.
#include "platform/uikit/UIViewController.h"

inline constexpr const char* SKStoreProductViewControllerClassName = "SKStoreProductViewController";
inline constexpr const char* SKStoreProductParameterITunesItemIdentifier = "id";

class SKStoreProductViewControllerDelegate {
 public:
  virtual ~SKStoreProductViewControllerDelegate() = default;
  // The user closed the product page.
  virtual void productViewControllerDidFinish(const UIViewControllerRef& page) {}
};
