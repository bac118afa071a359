#include "profiles/InputProfileTableDataSource.h"

#include "profiles/InputProfilesService.h"
#include "profiles/ProfilesSupport.h"

InputProfileTableDataSource::InputProfileTableDataSource() { reloadProfiles(); }

void InputProfileTableDataSource::reloadProfiles() {
  auto& service = InputProfilesService::sharedService();
  userDefinedProfiles_ = service.userDefinedProfiles();
  predefinedProfiles_ = service.internalPredefinedProfiles();
}

InputProfileRef InputProfileTableDataSource::profileAtIndexPath(const NSIndexPath& p) const {
  const std::vector<InputProfileRef>* list = p.section == 0   ? &predefinedProfiles_
                                             : p.section == 1 ? &userDefinedProfiles_
                                                              : nullptr;
  if (!list || p.row < 0 || p.row >= int64_t(list->size())) return nullptr;
  return (*list)[size_t(p.row)];
}

int64_t InputProfileTableDataSource::tableViewNumberOfRowsInSection(UITableView&, int64_t section) {
  return int64_t(section == 0 ? predefinedProfiles_.size() : userDefinedProfiles_.size());
}

std::shared_ptr<UITableViewCell> InputProfileTableDataSource::tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                                                           const NSIndexPath& p) {
  auto cell = tableView.dequeueReusableCellWithIdentifier(InputProfileTableViewCell::kReuseIdentifier, p);
  auto row = std::dynamic_pointer_cast<InputProfileTableViewCell>(cell);
  auto profile = profileAtIndexPath(p);
  if (!row || !profile) return cell;
  const auto& device = profile->inputDevice();
  const bool connected = device && device->inputDeviceConnected();
  if (p.section == 1) {
    if (row->btnEdit) row->btnEdit->setHidden(false);
    row->delegate = std::static_pointer_cast<InputProfileTableViewCellDelegate>(shared_from_this());
    row->setCellEnabled(connected);
  } else {
    if (row->btnEdit) row->btnEdit->setHidden(true);
    row->delegate.reset();
    row->setCellEnabled(connected);
    if (row->btnEdit) row->btnEdit->setHidden(true);  // a predefined row never offers editing
  }
  if (row->lblTitle) {
    row->lblTitle->setText(connected ? profile->displayName()
                                     : profile->displayName() + " (" + tarn::localised("microphone_setup.not_connected") + ")");
  }
  if (row->ivLogo) row->ivLogo->setImage(device ? device->inputLogoImage() : nullptr);
  auto current = InputProfilesService::sharedService().currentProfile();
  const bool enabled = current && current->profileId() == profile->profileId();
  if (row->ivLogo) row->ivLogo->setTintColor(tarn::namedColor(enabled ? "brandRed" : "minorTextColor"));
  if (row->lblTitle) row->lblTitle->setTextColor(enabled ? tarn::namedColor("brandRed") : UIColor::whiteColor());
  return cell;
}

std::shared_ptr<UIView> InputProfileTableDataSource::tableViewViewForHeaderInSection(UITableView& tableView,
                                                                                    int64_t section) {
  const double width = tableView.bounds().size.width;
  auto container = std::make_shared<UIView>(CGRectMake(-10, 0, width + 20, kHeaderHeight));
  container->setBackgroundColor(tarn::hexColor(0x1D1D21));
  auto title = std::make_shared<UILabel>(CGRectMake(15, 35, width - 30, 18));
  title->setBackgroundColor(UIColor::clearColor());
  title->setTextColor(tarn::hexColor(0x747378));
  title->setFont(UIFont::fontWithName("GothamPro", 12));
  if (section == 0) title->setText(tarn::localised("microphone_setup.predefined_profiles"));
  else if (section == 1) title->setText(tarn::localised("microphone_setup.user_defined_profiles"));
  const double cw = container->frame().size.width;
  auto top = std::make_shared<UIView>(CGRectMake(0, 0, cw, 1));
  top->setBackgroundColor(tarn::hexColor(0x111012));
  auto bottom = std::make_shared<UIView>(CGRectMake(0, 54, cw, 1));
  bottom->setBackgroundColor(tarn::hexColor(0x111012));
  container->addSubview(title);
  container->addSubview(top);
  container->addSubview(bottom);
  return container;
}

void InputProfileTableDataSource::tableViewWillDisplayHeaderView(UITableView&, const std::shared_ptr<UIView>& view,
                                                                 int64_t) {
  auto standard = std::dynamic_pointer_cast<UITableViewHeaderFooterView>(view);
  if (!standard) return;
  standard->contentView()->setBackgroundColor(tarn::namedColor("DarkBlackColor"));
  standard->textLabel()->setTextColor(tarn::hexColor(0x747378));
  standard->textLabel()->setFont(UIFont::fontWithName("GothamPro", 12));
}

void InputProfileTableDataSource::tableViewDidSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& p) {
  tableView.deselectRowAtIndexPath(p, true);
  if (auto d = dataSourceDelegate.lock()) d->didSelectItem(profileAtIndexPath(p));
}

void InputProfileTableDataSource::editProfile(InputProfileTableViewCell& cell) {
  auto target = std::dynamic_pointer_cast<InputProfileTableViewCellDelegate>(dataSourceDelegate.lock());
  if (target) target->editProfile(cell);
}
