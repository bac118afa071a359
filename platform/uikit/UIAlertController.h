#pragma once
// Alerts and action sheets. An alert is a card in the middle of the window with a title, a
// message, text fields and a row (two actions) or column of buttons; an action sheet is a column
// of buttons at the bottom with the cancel button apart under it. Either is presented over the
// screen (it stays visible, dimmed, behind) and fades in and out.
//
// A tap on an action's button dismisses the controller and, once it is gone, runs the action's
// handler (so a handler may present the next controller). A tap outside an action sheet's buttons
// counts as its cancel action, when it has one. The first text field takes the keyboard when the
// alert has appeared (an alert without fields takes it from any field being edited), so the keys
// reach the alert in front, fields or not: Return does an alert's preferred action, the one the
// code marks (setPreferredAction), or else the alert's one choice beside its cancel action (the
// Save of a dialog that offers Save and Cancel); an alert offering several choices of equal
// standing ("Create a new profile", "Use the built-in microphone") and none marked has no default
// to take. Escape does the cancel action. An alert of one action that
// is not destructive (an acknowledgement's OK) does that action for either key. An action sheet
// takes Escape as its cancel action and Return as nothing. A key with no action to do does
// nothing, and a field being edited keeps the keyboard. The preferred action's title is drawn
// bold (the cancel action's is when there is none). Main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/UIImage.h"
#include "platform/uikit/UIButton.h"
#include "platform/uikit/UITextField.h"
#include "platform/uikit/UIViewController.h"

enum class UIAlertControllerStyle { ActionSheet, Alert };
enum class UIAlertActionStyle { Default, Cancel, Destructive };

class UIBarButtonItem;

class UIAlertAction {
 public:
  using Handler = std::function<void(UIAlertAction&)>;
  static std::shared_ptr<UIAlertAction> actionWithTitle(std::string title, UIAlertActionStyle style,
                                                        Handler handler = {});
  UIAlertAction(std::string title, UIAlertActionStyle style, Handler handler)
      : title_(std::move(title)), style_(style), handler_(std::move(handler)) {}

  const std::string& title() const { return title_; }
  UIAlertActionStyle style() const { return style_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  const Handler& handler() const { return handler_; }
  // setValue:forKey: — the key "image" sets the image shown beside the title; any other key raises
  // NSUnknownKeyException, as key-value coding does.
  void setValue(UIImageRef image, const std::string& key);
  UIImageRef image() const { return image_; }

 private:
  std::string title_;
  UIAlertActionStyle style_;
  Handler handler_;
  bool enabled_ = true;
  UIImageRef image_;
};
using UIAlertActionRef = std::shared_ptr<UIAlertAction>;

// Where a sheet points on large screens. This platform's screens are phone screens, which present
// sheets from the bottom, so no controller has one; the type exists for callers that ask.
class UIPopoverPresentationController {
 public:
  void setBarButtonItem(const std::shared_ptr<UIBarButtonItem>& item) { barButtonItem_ = item; }

 private:
  std::weak_ptr<UIBarButtonItem> barButtonItem_;
};

class UIAlertController : public UIViewController {
 public:
  static std::shared_ptr<UIAlertController> alertControllerWithTitle(std::optional<std::string> title,
                                                                     std::optional<std::string> message,
                                                                     UIAlertControllerStyle style);
  UIAlertController(std::optional<std::string> title, std::optional<std::string> message, UIAlertControllerStyle style);

  const std::optional<std::string>& alertTitle() const { return title_; }
  UIAlertControllerStyle preferredStyle() const { return style_; }

  // Actions in the order added (an action sheet shows its cancel action last, apart).
  void addAction(const UIAlertActionRef& action);
  const std::vector<UIAlertActionRef>& actions() const { return actions_; }
  // The action Return does in an alert (see above); none unmarks it. It must be one of the
  // controller's actions: another raises NSInternalInconsistencyException.
  void setPreferredAction(const UIAlertActionRef& action);
  const UIAlertActionRef& preferredAction() const { return preferredAction_; }
  // Alerts only: adds a text field, set up by the handler; raises for an action sheet.
  void addTextFieldWithConfigurationHandler(const std::function<void(UITextField&)>& configure);
  const std::vector<std::shared_ptr<UITextField>>& textFields() const { return textFields_; }
  std::shared_ptr<UIPopoverPresentationController> popoverPresentationController() const { return nullptr; }

  // The button showing an action (none before the view is loaded, or for a foreign action).
  std::shared_ptr<UIButton> buttonForAction(const UIAlertAction& action) const;
  // What a tap on the action's button does: dismisses, then runs the handler. Disabled actions
  // and actions of other controllers do nothing.
  void performAction(const UIAlertActionRef& action);
  // The card that holds the content (for placing and drawing checks).
  std::shared_ptr<UIView> cardView() const { return card_; }

  void loadView() override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  bool performKeyCommand(UIKeyCommand key) override;
  // The action Return or Escape does (see above); none when the key does nothing here.
  UIAlertActionRef actionForKey(UIKeyCommand key) const;

 private:
  void layoutCard();
  double addTextsAndFields(double width);
  std::shared_ptr<UIButton> makeActionButton(const UIAlertActionRef& action);
  double addButtons(double y, double width);
  void placeCards();
  std::optional<std::string> title_, message_;
  UIAlertControllerStyle style_;
  std::vector<UIAlertActionRef> actions_;
  UIAlertActionRef preferredAction_;
  std::vector<std::shared_ptr<UITextField>> textFields_;
  std::vector<std::pair<UIAlertActionRef, std::shared_ptr<UIButton>>> buttons_;
  std::shared_ptr<UIView> card_, cancelCard_;
  bool acting_ = false;
  bool contentDirty_ = true;
  double builtWidth_ = -1, cardHeight_ = 0;
};
