#include "profiles/InputProfilesTableViewController.h"

#include "overlays/StatusOverlay.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIStoryboard.h"
#include "profiles/DeviceInputsService.h"
#include "profiles/InputProfilesService.h"
#include "profiles/MicProfileSetupViewController.h"
#include "profiles/ProfilesSupport.h"

InputProfilesTableViewController::InputProfilesTableViewController()
    : tableDataSource_(std::make_shared<InputProfileTableDataSource>()) {}

std::shared_ptr<InputProfilesTableViewController> InputProfilesTableViewController::self() {
  return std::static_pointer_cast<InputProfilesTableViewController>(shared_from_this());
}

void InputProfilesTableViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  tableView->setDataSource(tableDataSource_);
  tableView->setDelegate(tableDataSource_);
  tableDataSource_->dataSourceDelegate = std::static_pointer_cast<TableDataSourceDelegate>(self());
  tarn::recordUsageEvent("profiles_table_opened");
  std::weak_ptr<InputProfilesTableViewController> weak = self();
  auto refresh = [weak](const NSNotification& n) {
    if (auto screen = weak.lock()) screen->externalInputConnected(n);
  };
  auto& center = NSNotificationCenter::defaultCenter();
  newInputObserver_ = center.addObserverForName(DeviceInputsService::kNewExternalInput, nullptr, DispatchQueue::main(), refresh);
  profileObserver_ = center.addObserverForName(InputProfilesService::kCurrentProfileChanged, nullptr, DispatchQueue::main(), refresh);
  setTitle(tarn::localised("tab_bar.microphone_profiles"));
}

void InputProfilesTableViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  tableDataSource_->reloadProfiles();
  tableView->reloadData();
  if (auto nav = navigationController()) nav->setNavigationBarHidden(false, true);
}

void InputProfilesTableViewController::externalInputConnected(const NSNotification&) {
  tableDataSource_->reloadProfiles();
  tableView->reloadData();
}

void InputProfilesTableViewController::addNewProfile(const std::shared_ptr<UIBarButtonItem>& sender) {
  tarn::recordUsageEvent("profiles_table_add_profile");
  auto sheet = UIAlertController::alertControllerWithTitle(tarn::localised("microphone_setup.create_new.title"),
                                                           std::nullopt, UIAlertControllerStyle::ActionSheet);
  const auto inputs = DeviceInputsService::sharedService().selectableExternalInputs();
  if (inputs.empty()) {
    StatusOverlay::showInfoWithStatus(tarn::localised("popup.microphone_not_connected"));
    return;
  }
  auto screen = self();
  auto completion = [weak = std::weak_ptr<InputProfilesTableViewController>(screen)](InputProfileRef profile) {
    if (auto s = weak.lock()) s->showProfileSetup(profile);
  };
  if (inputs.size() == 1) {
    InputProfilesService::sharedService().createNewProfileForInputDescription(inputs.front(), screen, completion);
    return;
  }
  for (const auto& input : inputs) {
    auto action = UIAlertAction::actionWithTitle(input->displayName(), UIAlertActionStyle::Default,
                                                 [input, screen, completion](UIAlertAction&) {
                                                   InputProfilesService::sharedService().createNewProfileForInputDescription(
                                                       input, screen, completion);
                                                 });
    if (auto logo = input->inputLogoImage()) action->setValue(logo, "image");
    sheet->addAction(action);
  }
  sheet->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel));
  if (auto popover = sheet->popoverPresentationController()) popover->setBarButtonItem(sender);
  sheet->view()->setTintColor(tarn::namedColor("brandRed"));
  presentViewController(sheet, true);
}

void InputProfilesTableViewController::showProfileSetup(const InputProfileRef& profile) {
  if (profile && storyboard()) {
    auto setup = std::dynamic_pointer_cast<MicProfileSetupViewController>(
        storyboard()->instantiateViewControllerWithIdentifier("microphoneProfileSetup"));
    if (setup) {
      setup->setInputProfile(profile);
      if (auto nav = navigationController()) nav->pushViewController(setup, true);
    }
  }
  tableView->reloadData();
}

void InputProfilesTableViewController::didSelectItem(const InputProfileRef& profile) {
  if (!profile) {
    dismissViewControllerAnimated(true);
    return;
  }
  if (!profile->inputDevice() || !profile->inputDevice()->inputDeviceConnected()) {
    StatusOverlay::showInfoWithStatus(tarn::localised("microphone_setup.mic_not_connected"));
    dismissViewControllerAnimated(true);
    return;
  }
  if (auto d = delegate.lock()) {
    d->inputProfilesTableDidSelectProfile(profile);
    dismissViewControllerAnimated(true);
    return;
  }
  tarn::recordUsageEvent("profiles_table_select_profile");
  InputProfilesService::sharedService().enableProfile(profile, ProfileEnableSource::selectedFromTable);
  StatusOverlay::show();
  auto screen = self();  // kept until both steps have run
  DispatchQueue::main()->after(0.5, [screen] {
    StatusOverlay::dismiss();
    StatusOverlay::showSuccessWithStatus(std::nullopt);
    DispatchQueue::main()->after(0.5, [screen] {
      if (auto nav = screen->navigationController()) nav->popToRootViewControllerAnimated(true);
    });
  });
}

void InputProfilesTableViewController::editProfile(InputProfileTableViewCell& cell) {
  auto path = tableView->indexPathForCell(cell);
  if (!path) return;
  auto profile = tableDataSource_->profileAtIndexPath(*path);
  if (!profile || !storyboard()) return;
  auto setup = std::dynamic_pointer_cast<MicProfileSetupViewController>(
      storyboard()->instantiateViewControllerWithIdentifier("microphoneProfileSetup"));
  if (!setup) return;
  tarn::recordUsageEvent("profiles_table_edit_profile");
  setup->setInputProfile(profile);
  if (auto nav = navigationController()) nav->pushViewController(setup, true);
}
