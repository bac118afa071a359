#pragma once
// Layout constraints: linear relations between two views' edges, centres and sizes,
//   first.attribute  (=, <= or >=)  multiplier × second.attribute + constant,
// or between one view's size and a constant. Views that do not translate their autoresizing mask
// into constraints get their frames from the active constraints that name them, solved when their
// superview lays out.
//
// The solver covers the chains screens are made of, one axis at a time: equalities fix a view's
// edges, centre or size (required ones first, then optional ones while something is still free);
// a size that no equality fixes comes from the view's intrinsic content size, else stays as it
// was; inequalities then clamp what the equalities left. Views a constraint refers to are read in
// their current frames (siblings are solved together until they agree), so a constraint may name
// any view of the same window.
#include <memory>
#include <vector>

class UIView;
class NSLayoutConstraint;
using NSLayoutConstraintRef = std::shared_ptr<NSLayoutConstraint>;

enum class NSLayoutAttribute { NotAnAttribute, Left, Right, Top, Bottom, Leading, Trailing, Width, Height, CenterX, CenterY };
enum class NSLayoutRelation { LessThanOrEqual = -1, Equal = 0, GreaterThanOrEqual = 1 };

inline constexpr float UILayoutPriorityRequired = 1000;
inline constexpr float UILayoutPriorityDefaultHigh = 750;
inline constexpr float UILayoutPriorityDefaultLow = 250;

class NSLayoutConstraint : public std::enable_shared_from_this<NSLayoutConstraint> {
 public:
  // constraintWithItem:attribute:relatedBy:toItem:attribute:multiplier:constant: — a second item
  // of none (or the attribute NotAnAttribute) makes the relation one with the constant alone.
  static NSLayoutConstraintRef constraintWithItem(const std::shared_ptr<UIView>& first, NSLayoutAttribute firstAttribute,
                                                  NSLayoutRelation relation, const std::shared_ptr<UIView>& second,
                                                  NSLayoutAttribute secondAttribute, double multiplier, double constant);
  static void activateConstraints(const std::vector<NSLayoutConstraintRef>& constraints);

  std::shared_ptr<UIView> firstItem() const { return first_.lock(); }
  std::shared_ptr<UIView> secondItem() const { return second_.lock(); }
  NSLayoutAttribute firstAttribute() const { return firstAttribute_; }
  NSLayoutAttribute secondAttribute() const { return secondAttribute_; }
  NSLayoutRelation relation() const { return relation_; }
  double multiplier() const { return multiplier_; }
  double constant() const { return constant_; }
  // Changing the constant marks the views' superviews for layout; a non-finite constant is ignored.
  void setConstant(double constant);
  float priority() const { return priority_; }
  void setPriority(float priority);
  bool isActive() const { return active_; }
  // An active constraint is held by its views until deactivated (or until a view goes away).
  void setActive(bool active);

  NSLayoutConstraint(const std::shared_ptr<UIView>& first, NSLayoutAttribute firstAttribute, NSLayoutRelation relation,
                     const std::shared_ptr<UIView>& second, NSLayoutAttribute secondAttribute, double multiplier,
                     double constant);

 private:
  void markViews() const;
  std::weak_ptr<UIView> first_, second_;
  NSLayoutAttribute firstAttribute_, secondAttribute_;
  NSLayoutRelation relation_;
  double multiplier_, constant_;
  float priority_ = UILayoutPriorityRequired;
  bool active_ = false;
};

// Layout anchors: the readable way to make constraints (view->leadingAnchor()->constraintEqualToAnchor(...)).
class NSLayoutAnchor {
 public:
  NSLayoutAnchor(std::weak_ptr<UIView> view, NSLayoutAttribute attribute) : view_(std::move(view)), attribute_(attribute) {}
  NSLayoutConstraintRef constraintEqualToAnchor(const NSLayoutAnchor& other, double constant = 0) const;
  NSLayoutConstraintRef constraintLessThanOrEqualToAnchor(const NSLayoutAnchor& other, double constant = 0) const;
  // Dimension anchors (width, height) also relate to a multiple of another dimension or to a constant.
  NSLayoutConstraintRef constraintEqualToAnchorMultiplier(const NSLayoutAnchor& other, double multiplier,
                                                          double constant = 0) const;
  NSLayoutConstraintRef constraintLessThanOrEqualToAnchorMultiplier(const NSLayoutAnchor& other, double multiplier,
                                                                    double constant = 0) const;
  NSLayoutConstraintRef constraintEqualToConstant(double constant) const;
  NSLayoutConstraintRef constraintGreaterThanOrEqualToConstant(double constant) const;

 private:
  NSLayoutConstraintRef make(NSLayoutRelation relation, const NSLayoutAnchor* other, double multiplier,
                             double constant) const;
  std::weak_ptr<UIView> view_;
  NSLayoutAttribute attribute_;
};

// Solves the frames of the subviews of `superview` that are laid out by constraints. Returns
// whether any frame changed. Used by the layout pass.
bool NSLayoutSolveSubviews(UIView& superview);
