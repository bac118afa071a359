#pragma once
// The profile list's table: two sections, the predefined profiles (0) and the user's own (1),
// under 55-point headers; 43-point rows (InputProfileTableViewCell) with the name, the logo, the
// enabled profile in the brand colour, disconnected inputs dimmed with a "not connected" mark, and
// an edit button on connected user profiles. Choices and edit requests go to the list screen.
// The lists are read from the profile service when made and on reloadProfiles only.
// Main thread only.
#include <memory>
#include <optional>
#include <vector>

#include "platform/uikit/UITableView.h"
#include "profiles/InputProfile.h"
#include "profiles/InputProfileTableViewCell.h"

class TableDataSourceDelegate {
 public:
  virtual ~TableDataSourceDelegate() = default;
  // didSelectItem: — the chosen row's profile (none for a row without one).
  virtual void didSelectItem(const InputProfileRef& item) {}
};

class TableDataSource {
 public:
  virtual ~TableDataSource() = default;
  std::weak_ptr<TableDataSourceDelegate> dataSourceDelegate;
};

class InputProfileTableDataSource : public TableDataSource,
                                    public UITableViewDataSource,
                                    public UITableViewDelegate,
                                    public InputProfileTableViewCellDelegate,
                                    public std::enable_shared_from_this<InputProfileTableDataSource> {
 public:
  static constexpr double kRowHeight = 43;
  static constexpr double kHeaderHeight = 55;

  InputProfileTableDataSource();

  const std::vector<InputProfileRef>& userDefinedProfiles() const { return userDefinedProfiles_; }
  const std::vector<InputProfileRef>& predefinedProfiles() const { return predefinedProfiles_; }
  void reloadProfiles();
  // The profile of a row (section 0 predefined, 1 user); none past a list's end or in another section.
  InputProfileRef profileAtIndexPath(const NSIndexPath& indexPath) const;

  // UITableViewDataSource / UITableViewDelegate.
  int64_t numberOfSectionsInTableView(UITableView&) override { return 2; }
  int64_t tableViewNumberOfRowsInSection(UITableView&, int64_t section) override;
  std::shared_ptr<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;
  double tableViewHeightForRowAtIndexPath(UITableView&, const NSIndexPath&) override { return kRowHeight; }
  double tableViewHeightForHeaderInSection(UITableView&, int64_t) override { return kHeaderHeight; }
  std::shared_ptr<UIView> tableViewViewForHeaderInSection(UITableView& tableView, int64_t section) override;
  void tableViewWillDisplayHeaderView(UITableView& tableView, const std::shared_ptr<UIView>& view, int64_t section) override;
  void tableViewDidSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;

  // InputProfileTableViewCellDelegate: passed on to the list screen when it takes edit requests.
  void editProfile(InputProfileTableViewCell& cell) override;

 private:
  std::vector<InputProfileRef> userDefinedProfiles_;
  std::vector<InputProfileRef> predefinedProfiles_;
};
