#include "profiles/InputProfileTableViewCell.h"

void InputProfileTableViewCell::setCellEnabled(bool enabled) {
  cellEnabled_ = enabled;
  if (btnEdit) btnEdit->setHidden(!enabled);
  if (lblTitle) lblTitle->setAlpha(enabled ? 1.0 : 0.5);
}

void InputProfileTableViewCell::editProfileAction(const std::shared_ptr<UIButton>&) {
  auto keep = shared_from_this();
  if (auto d = delegate.lock()) d->editProfile(*this);
}
