#pragma once
// Storyboards: named sets of scenes written in C++. Each scene, by identifier, says how to make its
// controller (containers make their related children through the storyboard too), how to build
// its view (the layout, with the controller's outlets connected) and which segues leave it.
// Storyboards are registered by name at start-up; UIStoryboard::storyboardWithName finds them as
// the platform finds a storyboard resource in the bundle.
//
//   UIStoryboard::registerStoryboard("Main", [] {
//     UIStoryboardDefinition d;
//     d.initialScene = "root";
//     d.scenes["root"] = {[](UIStoryboard&) { return std::make_shared<MyController>(); },
//                         [](UIViewController& vc) { /* build the view, connect outlets */ }};
//     return d;
//   });
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/uikit/UIViewController.h"

class UIStoryboard;
class UIStoryboardSegue;

enum class UIStoryboardSegueKind {
  Show,     // pushed on the source's navigation controller (presented when there is none)
  Present,  // presented modally, animated
  Custom,   // the segue's perform block does the work
};

struct UIStoryboardSegueDefinition {
  std::string destination;  // the scene identifier of the destination controller
  UIStoryboardSegueKind kind = UIStoryboardSegueKind::Show;
  std::function<void(UIStoryboardSegue&)> perform;  // Custom segues
};

struct UIStoryboardSceneDefinition {
  // Makes the scene's controller (initWithCoder:).
  std::function<UIViewControllerRef(UIStoryboard&)> makeController;
  // Builds the controller's view and connects its outlets; it must set the view (setView). None:
  // the controller's own loadView makes it.
  std::function<void(UIViewController&)> buildView;
  std::map<std::string, UIStoryboardSegueDefinition> segues;
};

struct UIStoryboardDefinition {
  std::string initialScene;  // empty: no initial view controller
  std::map<std::string, UIStoryboardSceneDefinition> scenes;
};

class UIStoryboardSegue {
 public:
  UIStoryboardSegue(std::string identifier, UIViewControllerRef source, UIViewControllerRef destination,
                    UIStoryboardSegueDefinition definition)
      : identifier_(std::move(identifier)),
        source_(std::move(source)),
        destination_(std::move(destination)),
        definition_(std::move(definition)) {}
  virtual ~UIStoryboardSegue() = default;

  const std::string& identifier() const { return identifier_; }
  const UIViewControllerRef& sourceViewController() const { return source_; }
  const UIViewControllerRef& destinationViewController() const { return destination_; }
  // Shows the destination as the segue's kind says.
  virtual void perform();

 private:
  std::string identifier_;
  UIViewControllerRef source_, destination_;
  UIStoryboardSegueDefinition definition_;
};

class UIStoryboard : public std::enable_shared_from_this<UIStoryboard> {
 public:
  using Builder = std::function<UIStoryboardDefinition()>;
  // Registers (or replaces) the storyboard of the name.
  static void registerStoryboard(const std::string& name, Builder builder);
  static void unregisterStoryboard(const std::string& name);
  static bool hasStoryboardNamed(const std::string& name);
  // storyboardWithName:bundle: — raises NSInvalidArgumentException when no storyboard of the
  // name is registered, as the platform does for a missing resource.
  static std::shared_ptr<UIStoryboard> storyboardWithName(const std::string& name);

  // The initial scene's controller; none when the storyboard names no initial scene.
  UIViewControllerRef instantiateInitialViewController();
  // Raises NSInvalidArgumentException for an identifier the storyboard does not contain.
  UIViewControllerRef instantiateViewControllerWithIdentifier(const std::string& identifier);

  // Used by controllers: builds the view of a controller made from a scene with a view builder
  // (false when the scene has none), and performs a segue leaving its scene.
  bool loadViewForController(UIViewController& controller);
  void performSegue(const UIViewControllerRef& source, const std::string& identifier, const Value& sender);

  UIStoryboard(std::string name, UIStoryboardDefinition definition);

 private:
  std::string name_;
  UIStoryboardDefinition definition_;
};
