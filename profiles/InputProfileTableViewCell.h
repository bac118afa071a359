#pragma once
// A row of the profile list: the profile's name, its input's logo and, for user profiles, an edit
// button. A row whose input is not connected is dimmed (half-opaque title, no edit button).
// Made by the storyboard "AppSettings" as the prototype cell "audionInputCell", which connects the
// outlets. Main thread only.
#include <memory>

#include "platform/uikit/UIButton.h"
#include "platform/uikit/UIImageView.h"
#include "platform/uikit/UILabel.h"
#include "platform/uikit/UITableView.h"

class InputProfileTableViewCell;

class InputProfileTableViewCellDelegate {
 public:
  virtual ~InputProfileTableViewCellDelegate() = default;
  // editProfile: — the cell's edit button was pressed.
  virtual void editProfile(InputProfileTableViewCell& cell) = 0;
};

class InputProfileTableViewCell : public UITableViewCell {
 public:
  static constexpr const char* kReuseIdentifier = "audionInputCell";
  explicit InputProfileTableViewCell(std::string reuseIdentifier = kReuseIdentifier)
      : UITableViewCell(std::move(reuseIdentifier)) {}

  // ---- Outlets ----
  std::shared_ptr<UILabel> lblTitle;
  std::shared_ptr<UIButton> btnEdit;
  std::shared_ptr<UIImageView> ivLogo;

  bool cellEnabled() const { return cellEnabled_; }
  // Shows the edit button and a fully opaque title when true; hides it and halves the title's
  // opacity when false.
  void setCellEnabled(bool enabled);
  std::weak_ptr<InputProfileTableViewCellDelegate> delegate;

  // The edit button's action: tells the delegate, when there is one.
  void editProfileAction(const std::shared_ptr<UIButton>& sender);

 private:
  bool cellEnabled_ = true;
};
