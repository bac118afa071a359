#pragma once
// A colour as red, green, blue and alpha in 0..1 (device RGB). Colours are immutable values.
#include <array>
#include <memory>

class UIColor;
using UIColorRef = std::shared_ptr<const UIColor>;

class UIColor {
 public:
  UIColor(double red, double green, double blue, double alpha);

  static UIColorRef colorWithRed(double red, double green, double blue, double alpha);
  static UIColorRef colorWithWhite(double white, double alpha);
  static UIColorRef whiteColor();
  static UIColorRef blackColor();
  static UIColorRef clearColor();
  static UIColorRef redColor();
  static UIColorRef greenColor();
  static UIColorRef blueColor();

  // getRed:green:blue:alpha: — any pointer may be null.
  bool getRed(double* red, double* green, double* blue, double* alpha) const;
  // The colour's components as handed to GL and Cairo: red, green, blue, alpha.
  std::array<double, 4> components() const { return {red_, green_, blue_, alpha_}; }

  double red() const { return red_; }
  double green() const { return green_; }
  double blue() const { return blue_; }
  double alpha() const { return alpha_; }

  bool operator==(const UIColor& other) const = default;

 private:
  double red_, green_, blue_, alpha_;
};
