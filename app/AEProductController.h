#pragma once
// The store's product page for an item identifier, one process-wide instance. No screen shows it:
// the application delegate's presentAppStoreForID has no caller. On this platform there is no
// store (SKStoreProductViewController.h), so isAvailable answers no and showAppStore does nothing.
// Main thread only.
#include <memory>
#include <optional>

#include "platform/foundation/Value.h"
#include "platform/uikit/SKStoreProductViewController.h"

class AEProductController : public SKStoreProductViewControllerDelegate {
 public:
  static std::shared_ptr<AEProductController> sharedInstance();
  // Whether the platform has the store's page controller class at run time.
  static bool isAvailable();

  std::optional<Value> productId() const { return productId_; }
  void setProductId(std::optional<Value> productId) { productId_ = std::move(productId); }
  void setProductAppStoreId(const Value& productId) { setProductId(productId); }
  // Shows the product page over the key window's root controller once it has loaded; nothing
  // without a store.
  void showAppStore();
  // Dismisses the page, animated.
  void productViewControllerDidFinish(const UIViewControllerRef& page) override;

 private:
  std::optional<Value> productId_;
};
