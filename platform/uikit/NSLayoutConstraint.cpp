#include "platform/uikit/NSLayoutConstraint.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/foundation/NSException.h"
#include "platform/uikit/UIView.h"

NSLayoutConstraint::NSLayoutConstraint(const std::shared_ptr<UIView>& first, NSLayoutAttribute firstAttribute,
                                       NSLayoutRelation relation, const std::shared_ptr<UIView>& second,
                                       NSLayoutAttribute secondAttribute, double multiplier, double constant)
    : first_(first),
      second_(second),
      firstAttribute_(firstAttribute),
      secondAttribute_(second ? secondAttribute : NSLayoutAttribute::NotAnAttribute),
      relation_(relation),
      multiplier_(multiplier),
      constant_(constant) {}

NSLayoutConstraintRef NSLayoutConstraint::constraintWithItem(const std::shared_ptr<UIView>& first,
                                                             NSLayoutAttribute firstAttribute, NSLayoutRelation relation,
                                                             const std::shared_ptr<UIView>& second,
                                                             NSLayoutAttribute secondAttribute, double multiplier,
                                                             double constant) {
  if (!first || firstAttribute == NSLayoutAttribute::NotAnAttribute) {
    NSException::raise(NSInvalidArgumentException, "a constraint needs a first item and attribute");
  }
  if (!std::isfinite(multiplier) || !std::isfinite(constant)) {
    NSException::raise(NSInvalidArgumentException, "a constraint's multiplier and constant must be finite");
  }
  return std::make_shared<NSLayoutConstraint>(first, firstAttribute, relation, second, secondAttribute, multiplier,
                                              constant);
}

void NSLayoutConstraint::activateConstraints(const std::vector<NSLayoutConstraintRef>& constraints) {
  for (const auto& c : constraints) {
    if (c) c->setActive(true);
  }
}

// The views whose frames the constraint may move are laid out again: each item's superview solves
// it. An item that contains the other is not moved by the constraint (a view is placed by its
// superview and siblings, never by its subviews), so its superview is left alone.
void NSLayoutConstraint::markViews() const {
  UIView::layoutInputsChanged();
  auto first = first_.lock(), second = second_.lock();
  for (const auto& [v, other] : {std::pair{first, second}, std::pair{second, first}}) {
    if (!v) continue;
    v->setNeedsLayout();
    const bool containsOther = other && other != v && other->isDescendantOfView(v.get());
    if (containsOther) continue;
    if (auto parent = v->superview()) parent->setNeedsLayout();
  }
}

void NSLayoutConstraint::setConstant(double constant) {
  if (!std::isfinite(constant) || constant == constant_) return;
  constant_ = constant;
  markViews();
}

void NSLayoutConstraint::setPriority(float priority) {
  if (std::isfinite(priority)) priority_ = std::clamp(priority, 1.0f, UILayoutPriorityRequired);
  markViews();
}

void NSLayoutConstraint::setActive(bool active) {
  if (active == active_) return;
  auto self = shared_from_this();
  auto first = first_.lock(), second = second_.lock();
  if (active) {
    if (!first) return;
    first->addConstraintReference(self);
    if (second && second != first) second->addConstraintReference(self);
  } else {
    if (first) first->removeConstraintReference(this);
    if (second) second->removeConstraintReference(this);
  }
  active_ = active;
  markViews();
}

// ---- Anchors ----

NSLayoutConstraintRef NSLayoutAnchor::make(NSLayoutRelation relation, const NSLayoutAnchor* other, double multiplier,
                                           double constant) const {
  auto view = view_.lock();
  if (!view) NSException::raise(NSInvalidArgumentException, "the anchor's view is gone");
  if (other) {
    return NSLayoutConstraint::constraintWithItem(view, attribute_, relation, other->view_.lock(), other->attribute_,
                                                  multiplier, constant);
  }
  return NSLayoutConstraint::constraintWithItem(view, attribute_, relation, nullptr, NSLayoutAttribute::NotAnAttribute,
                                                0, constant);
}

NSLayoutConstraintRef NSLayoutAnchor::constraintEqualToAnchor(const NSLayoutAnchor& other, double constant) const {
  return make(NSLayoutRelation::Equal, &other, 1, constant);
}
NSLayoutConstraintRef NSLayoutAnchor::constraintLessThanOrEqualToAnchor(const NSLayoutAnchor& other, double constant) const {
  return make(NSLayoutRelation::LessThanOrEqual, &other, 1, constant);
}
NSLayoutConstraintRef NSLayoutAnchor::constraintEqualToAnchorMultiplier(const NSLayoutAnchor& other, double multiplier,
                                                                        double constant) const {
  return make(NSLayoutRelation::Equal, &other, multiplier, constant);
}
NSLayoutConstraintRef NSLayoutAnchor::constraintLessThanOrEqualToAnchorMultiplier(const NSLayoutAnchor& other,
                                                                                  double multiplier,
                                                                                  double constant) const {
  return make(NSLayoutRelation::LessThanOrEqual, &other, multiplier, constant);
}
NSLayoutConstraintRef NSLayoutAnchor::constraintEqualToConstant(double constant) const {
  return make(NSLayoutRelation::Equal, nullptr, 0, constant);
}
NSLayoutConstraintRef NSLayoutAnchor::constraintGreaterThanOrEqualToConstant(double constant) const {
  return make(NSLayoutRelation::GreaterThanOrEqual, nullptr, 0, constant);
}

// ---- Solver ----

namespace {

enum class Kind { Min, Max, Center, Size };

bool horizontal(NSLayoutAttribute a) {
  return a == NSLayoutAttribute::Left || a == NSLayoutAttribute::Right || a == NSLayoutAttribute::Leading ||
         a == NSLayoutAttribute::Trailing || a == NSLayoutAttribute::Width || a == NSLayoutAttribute::CenterX;
}
bool vertical(NSLayoutAttribute a) {
  return a == NSLayoutAttribute::Top || a == NSLayoutAttribute::Bottom || a == NSLayoutAttribute::Height ||
         a == NSLayoutAttribute::CenterY;
}
Kind kindOf(NSLayoutAttribute a) {
  switch (a) {
    case NSLayoutAttribute::Left:
    case NSLayoutAttribute::Leading:
    case NSLayoutAttribute::Top: return Kind::Min;
    case NSLayoutAttribute::Right:
    case NSLayoutAttribute::Trailing:
    case NSLayoutAttribute::Bottom: return Kind::Max;
    case NSLayoutAttribute::CenterX:
    case NSLayoutAttribute::CenterY: return Kind::Center;
    default: return Kind::Size;
  }
}

const UIView* rootOf(const UIView* v) {
  while (auto parent = v->superview()) v = parent.get();
  return v;
}

// The attribute's value of `item` in the coordinates of `space` (sizes in the item's own points).
std::optional<double> valueOf(const UIView& item, NSLayoutAttribute attribute, const UIView& space) {
  if (rootOf(&item) != rootOf(&space)) return std::nullopt;
  if (attribute == NSLayoutAttribute::Width) return item.bounds().size.width;
  if (attribute == NSLayoutAttribute::Height) return item.bounds().size.height;
  CGRect r = &item == &space ? space.bounds() : item.convertRectToView(item.bounds(), &space);
  switch (attribute) {
    case NSLayoutAttribute::Left:
    case NSLayoutAttribute::Leading: return CGRectGetMinX(r);
    case NSLayoutAttribute::Right:
    case NSLayoutAttribute::Trailing: return CGRectGetMaxX(r);
    case NSLayoutAttribute::CenterX: return CGRectGetMidX(r);
    case NSLayoutAttribute::Top: return CGRectGetMinY(r);
    case NSLayoutAttribute::Bottom: return CGRectGetMaxY(r);
    case NSLayoutAttribute::CenterY: return CGRectGetMidY(r);
    default: return std::nullopt;
  }
}

struct Term {
  Kind kind;
  NSLayoutRelation relation;
  double value;
  bool required;
  // Whether the view is the constraint's first item. A constraint that names the view second is
  // read from the other view's current frame: it places the view only where its own constraints
  // and its intrinsic size leave something free.
  bool direct = true;
};

NSLayoutRelation flipped(NSLayoutRelation r) {
  if (r == NSLayoutRelation::LessThanOrEqual) return NSLayoutRelation::GreaterThanOrEqual;
  if (r == NSLayoutRelation::GreaterThanOrEqual) return NSLayoutRelation::LessThanOrEqual;
  return r;
}

// The terms of one axis for `view`, each "attribute(view) relation value".
std::vector<Term> termsFor(const UIView& view, const UIView& space, bool isHorizontal) {
  std::vector<Term> terms;
  for (const auto& c : view.constraintsForReading()) {
    if (!c->isActive()) continue;
    auto first = c->firstItem(), second = c->secondItem();
    bool required = c->priority() >= UILayoutPriorityRequired;
    auto onAxis = [&](NSLayoutAttribute a) { return isHorizontal ? horizontal(a) : vertical(a); };
    // A view is placed by its superview and siblings, never by its own subviews: a constraint
    // between the view and something inside it places the inner view instead.
    UIView* other = first.get() == &view ? second.get() : first.get();
    if (other && other != &view && other->isDescendantOfView(&view)) continue;
    // In a content area (a scroll view) only the leading and top edges of the area place the
    // subview, at the content's origin; its other edges leave the subview's size free.
    const bool contentArea = space.constrainsSubviewsToContentArea();
    if (first.get() == &view && onAxis(c->firstAttribute())) {
      double value = c->constant();
      if (second && c->secondAttribute() != NSLayoutAttribute::NotAnAttribute) {
        if (second.get() == &view && kindOf(c->secondAttribute()) != Kind::Size) continue;  // not solvable here
        if (contentArea && second.get() == &space) {
          if (kindOf(c->secondAttribute()) != Kind::Min) continue;
          terms.push_back({kindOf(c->firstAttribute()), c->relation(), value, required, true});
          continue;
        }
        auto other = valueOf(*second, c->secondAttribute(), space);
        if (!other) continue;
        value += c->multiplier() * *other;
      }
      terms.push_back({kindOf(c->firstAttribute()), c->relation(), value, required, true});
    } else if (second.get() == &view && first.get() != &view && onAxis(c->secondAttribute())) {
      if (c->multiplier() == 0 || !first) continue;
      std::optional<double> other;
      if (contentArea && first.get() == &space) {
        if (kindOf(c->firstAttribute()) != Kind::Min) continue;
        other = 0.0;
      } else {
        other = valueOf(*first, c->firstAttribute(), space);
      }
      if (!other) continue;
      // a R m·b + k  ⇔  b R' (a − k) / m, with R' the reverse of R (and back again for m < 0).
      NSLayoutRelation r = flipped(c->relation());
      if (c->multiplier() < 0) r = flipped(r);
      terms.push_back({kindOf(c->secondAttribute()), r, (*other - c->constant()) / c->multiplier(), required, false});
    }
  }
  return terms;
}

// Solves one axis: returns (min, size). The intrinsic length is asked for only when the view's own
// constraints leave the axis free: measuring a label's or a button's text is the costly part.
template <typename IntrinsicLength>
std::pair<double, double> solveAxis(const std::vector<Term>& terms, double currentMin, double currentSize,
                                    const IntrinsicLength& intrinsicLength) {
  std::optional<double> known[4];  // by Kind
  auto count = [&] { return int(known[0].has_value()) + int(known[1].has_value()) + int(known[2].has_value()) + int(known[3].has_value()); };
  auto& kMin = known[int(Kind::Min)];
  auto& kMax = known[int(Kind::Max)];
  auto& kCenter = known[int(Kind::Center)];
  auto& kSize = known[int(Kind::Size)];
  // The view's own equalities first (required, then optional), then its intrinsic size, then the
  // equalities other views state about it.
  auto take = [&](bool required, bool direct) {
    for (const auto& t : terms) {
      if (t.relation != NSLayoutRelation::Equal || t.required != required || t.direct != direct) continue;
      if (count() >= 2) break;
      auto& slot = known[int(t.kind)];
      if (!slot) slot = t.value;
    }
  };
  take(true, true);
  take(false, true);
  if (count() < 2 && !kSize) {
    if (const double intrinsic = intrinsicLength(); intrinsic >= 0) kSize = intrinsic;
  }
  take(true, false);
  take(false, false);
  const bool minFixed = kMin.has_value(), maxFixed = kMax.has_value(), centerFixed = kCenter.has_value();
  if (count() < 2 && !kSize) kSize = currentSize;
  if (count() < 2) kMin = currentMin;

  double min = 0, size = 0;
  if (kSize) {
    size = *kSize;
    if (kMin) min = *kMin;
    else if (kMax) min = *kMax - size;
    else if (kCenter) min = *kCenter - size / 2;
  } else if (kMin && kMax) {
    min = *kMin;
    size = *kMax - *kMin;
  } else if (kMin && kCenter) {
    min = *kMin;
    size = 2 * (*kCenter - *kMin);
  } else if (kMax && kCenter) {
    size = 2 * (*kMax - *kCenter);
    min = *kMax - size;
  }

  // Inequalities clamp what the equalities left, keeping the edge that was fixed.
  auto reanchor = [&](double newSize) {
    if (maxFixed && !minFixed) min = min + size - newSize;
    else if (centerFixed && !minFixed) min = min + (size - newSize) / 2;
    size = newSize;
  };
  for (const auto& t : terms) {
    if (t.relation == NSLayoutRelation::Equal) continue;
    bool le = t.relation == NSLayoutRelation::LessThanOrEqual;
    switch (t.kind) {
      case Kind::Size:
        if (le ? size > t.value : size < t.value) reanchor(t.value);
        break;
      case Kind::Min:
        if (le ? min > t.value : min < t.value) {
          if (maxFixed) size += min - t.value;
          min = t.value;
        }
        break;
      case Kind::Max:
        if (le ? min + size > t.value : min + size < t.value) {
          if (minFixed) size = t.value - min;
          else min = t.value - size;
        }
        break;
      case Kind::Center:
        if (le ? min + size / 2 > t.value : min + size / 2 < t.value) min = t.value - size / 2;
        break;
    }
  }
  if (!std::isfinite(min)) min = currentMin;
  if (!std::isfinite(size)) size = currentSize;
  return {min, std::max(0.0, size)};
}

}  // namespace

bool NSLayoutSolveSubviews(UIView& superview) {
  std::vector<UIViewRef> constrained;
  for (const auto& v : superview.subviews()) {
    if (!v->translatesAutoresizingMaskIntoConstraints()) constrained.push_back(v);
  }
  if (constrained.empty()) return false;
  bool changed = false;
  // Siblings may refer to one another: repeat until the frames agree (chains are short).
  for (int pass = 0; pass < 8; ++pass) {
    bool passChanged = false;
    for (const auto& v : constrained) {
      CGRect f = v->frame();
      std::optional<CGSize> intrinsic;
      auto intrinsicSize = [&]() -> const CGSize& {
        if (!intrinsic) intrinsic = v->intrinsicContentSize();
        return *intrinsic;
      };
      auto [x, w] = solveAxis(termsFor(*v, superview, true), f.origin.x, f.size.width,
                              [&] { return intrinsicSize().width; });
      auto [y, h] = solveAxis(termsFor(*v, superview, false), f.origin.y, f.size.height,
                              [&] { return intrinsicSize().height; });
      CGRect solved = CGRectMake(x, y, w, h);
      if (!(solved == f)) {
        v->setFrame(solved);
        passChanged = true;
      }
    }
    changed |= passChanged;
    if (!passChanged) break;
  }
  return changed;
}
