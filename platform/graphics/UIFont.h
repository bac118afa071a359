#pragma once
// Fonts by name. The names the screens use come from the phone ("Avenir-Medium",
// "HelveticaNeueCyr-UltraLight", ...); each maps to an installed family (DejaVu) with the weight and
// slant its style suffix names, so text keeps its intended lightness and size.
#include <memory>
#include <string>

class UIFont;
using UIFontRef = std::shared_ptr<const UIFont>;

class UIFont {
 public:
  // An empty name gives none; a size that is not a positive number gives the system size (12).
  static UIFontRef fontWithName(const std::string& name, double pointSize);
  static UIFontRef systemFontOfSize(double pointSize);

  const std::string& fontName() const { return name_; }
  double pointSize() const { return pointSize_; }
  const std::string& family() const { return family_; }
  int weight() const { return weight_; }  // Pango weight (100..1000)
  bool italic() const { return italic_; }

  UIFont(std::string name, double pointSize);

 private:
  std::string name_;
  double pointSize_;
  std::string family_;
  int weight_ = 400;
  bool italic_ = false;
};
