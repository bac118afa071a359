#include "platform/uikit/UIStoryboard.h"

#include <mutex>

#include "platform/foundation/NSException.h"
#include "platform/uikit/UINavigationController.h"

namespace {
std::map<std::string, UIStoryboard::Builder>& registry() {
  static std::map<std::string, UIStoryboard::Builder> builders;
  return builders;
}
std::mutex registryMutex;
}  // namespace

void UIStoryboard::registerStoryboard(const std::string& name, Builder builder) {
  std::lock_guard<std::mutex> lock(registryMutex);
  registry()[name] = std::move(builder);
}

void UIStoryboard::unregisterStoryboard(const std::string& name) {
  std::lock_guard<std::mutex> lock(registryMutex);
  registry().erase(name);
}

bool UIStoryboard::hasStoryboardNamed(const std::string& name) {
  std::lock_guard<std::mutex> lock(registryMutex);
  return registry().count(name) > 0;
}

std::shared_ptr<UIStoryboard> UIStoryboard::storyboardWithName(const std::string& name) {
  Builder builder;
  {
    std::lock_guard<std::mutex> lock(registryMutex);
    auto it = registry().find(name);
    if (it != registry().end()) builder = it->second;
  }
  if (!builder) {
    NSException::raise(NSInvalidArgumentException, "Could not find a storyboard named '%s' in bundle", name.c_str());
  }
  return std::make_shared<UIStoryboard>(name, builder());
}

UIStoryboard::UIStoryboard(std::string name, UIStoryboardDefinition definition)
    : name_(std::move(name)), definition_(std::move(definition)) {}

UIViewControllerRef UIStoryboard::instantiateInitialViewController() {
  if (definition_.initialScene.empty()) return nullptr;
  return instantiateViewControllerWithIdentifier(definition_.initialScene);
}

UIViewControllerRef UIStoryboard::instantiateViewControllerWithIdentifier(const std::string& identifier) {
  auto it = definition_.scenes.find(identifier);
  if (it == definition_.scenes.end() || !it->second.makeController) {
    NSException::raise(NSInvalidArgumentException, "Storyboard (%s) doesn't contain a view controller with identifier '%s'",
                       name_.c_str(), identifier.c_str());
  }
  UIViewControllerRef controller = it->second.makeController(*this);
  if (!controller) {
    NSException::raise(NSInternalInconsistencyException, "Storyboard (%s) made no controller for '%s'", name_.c_str(),
                       identifier.c_str());
  }
  controller->setStoryboard(shared_from_this(), identifier);
  return controller;
}

bool UIStoryboard::loadViewForController(UIViewController& controller) {
  auto it = definition_.scenes.find(controller.storyboardIdentifier());
  if (it == definition_.scenes.end() || !it->second.buildView) return false;
  it->second.buildView(controller);
  if (!controller.isViewLoaded()) {
    NSException::raise(NSInternalInconsistencyException, "Storyboard (%s) scene '%s' built no view", name_.c_str(),
                       controller.storyboardIdentifier().c_str());
  }
  return true;
}

void UIStoryboard::performSegue(const UIViewControllerRef& source, const std::string& identifier, const Value& sender) {
  auto scene = definition_.scenes.find(source->storyboardIdentifier());
  const UIStoryboardSegueDefinition* segue = nullptr;
  if (scene != definition_.scenes.end()) {
    auto it = scene->second.segues.find(identifier);
    if (it != scene->second.segues.end()) segue = &it->second;
  }
  if (!segue) {
    NSException::raise(NSInvalidArgumentException, "Receiver (%s) has no segue with identifier '%s'",
                       source->storyboardIdentifier().c_str(), identifier.c_str());
  }
  if (!source->shouldPerformSegueWithIdentifier(identifier, sender)) return;
  UIViewControllerRef destination = instantiateViewControllerWithIdentifier(segue->destination);
  UIStoryboardSegue s(identifier, source, destination, *segue);
  source->prepareForSegue(s, sender);
  s.perform();
}

void UIStoryboardSegue::perform() {
  switch (definition_.kind) {
    case UIStoryboardSegueKind::Custom:
      if (definition_.perform) definition_.perform(*this);
      break;
    case UIStoryboardSegueKind::Show:
      if (auto nav = source_->navigationController()) {
        nav->pushViewController(destination_, true);
        break;
      }
      [[fallthrough]];
    case UIStoryboardSegueKind::Present:
      source_->presentViewController(destination_, true);
      break;
  }
}
