#pragma once
// The profile list: every input profile (predefined, then the user's own) in a table. Choosing a
// connected profile enables it (a spinner, then a success mark, then back to the analyser about a
// second later); choosing one whose input is not connected says so. The "+" button adds a profile
// for a connected external input (asking which one when there are several) and opens it in the
// tuning screen; a user profile's edit button opens it there too. The list refreshes on every
// appearance and whenever a profile is enabled or a new external input is announced.
//
// Made by the storyboard "AppSettings" (scene "inputProfilesTable"), which connects the table view
// and the add button. Observers hold the screen weakly; the short timers after enabling keep it
// until they have run. Main thread only.
#include <memory>

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/uikit/UINavigationItem.h"
#include "platform/uikit/UITableView.h"
#include "platform/uikit/UIViewController.h"
#include "profiles/InputProfileTableDataSource.h"

class InputProfilesTableViewControllerDelegate {
 public:
  virtual ~InputProfilesTableViewControllerDelegate() = default;
  // A profile was chosen (instead of the screen enabling it).
  virtual void inputProfilesTableDidSelectProfile(const InputProfileRef& profile) = 0;
};

class InputProfilesTableViewController : public UIViewController,
                                         public TableDataSourceDelegate,
                                         public InputProfileTableViewCellDelegate {
 public:
  InputProfilesTableViewController();

  // ---- Outlets ----
  std::shared_ptr<UITableView> tableView;
  std::weak_ptr<InputProfilesTableViewControllerDelegate> delegate;
  const std::shared_ptr<InputProfileTableDataSource>& tableDataSource() const { return tableDataSource_; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  uint32_t supportedInterfaceOrientations() const override { return UIInterfaceOrientationMaskPortrait; }

  // ---- Actions ----
  void addNewProfile(const std::shared_ptr<UIBarButtonItem>& sender);
  void didSelectItem(const InputProfileRef& item) override;
  void editProfile(InputProfileTableViewCell& cell) override;
  void externalInputConnected(const NSNotification& notification);
  // The completion of a new profile: opens it in the tuning screen, then reloads the table.
  void showProfileSetup(const InputProfileRef& profile);

 private:
  std::shared_ptr<InputProfilesTableViewController> self();
  std::shared_ptr<InputProfileTableDataSource> tableDataSource_;
  NSObserverTokenRef newInputObserver_, profileObserver_;
};
