#include "platform/graphics/UIFont.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {
std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}
bool has(const std::string& haystack, const char* needle) { return haystack.find(needle) != std::string::npos; }
}  // namespace

UIFont::UIFont(std::string name, double pointSize) : name_(std::move(name)), pointSize_(pointSize) {
  std::string n = lower(name_);
  if (has(n, "mono") || has(n, "courier") || has(n, "menlo")) {
    family_ = "DejaVu Sans Mono";
  } else if (has(n, "times") || has(n, "georgia") || (has(n, "serif") && !has(n, "sans"))) {
    family_ = "DejaVu Serif";
  } else {
    family_ = "DejaVu Sans";
  }
  // The style is the part after the last '-' ("Avenir-Medium"), or the whole name for families
  // named with their weight ("Helvetica Neue Light").
  std::string style = n;
  if (auto dash = n.rfind('-'); dash != std::string::npos) style = n.substr(dash + 1);
  if (has(style, "ultralight") || has(style, "thin") || has(style, "extralight")) weight_ = 200;
  else if (has(style, "light")) weight_ = 300;
  else if (has(style, "medium")) weight_ = 500;
  else if (has(style, "semibold") || has(style, "demibold")) weight_ = 600;
  else if (has(style, "heavy") || has(style, "black")) weight_ = 900;
  else if (has(style, "bold")) weight_ = 700;
  italic_ = has(style, "italic") || has(style, "oblique");
}

UIFontRef UIFont::fontWithName(const std::string& name, double pointSize) {
  if (name.empty()) return nullptr;
  if (!(pointSize > 0) || !std::isfinite(pointSize)) pointSize = 12;
  return std::make_shared<const UIFont>(name, pointSize);
}

UIFontRef UIFont::systemFontOfSize(double pointSize) { return fontWithName("System", pointSize); }
