#include "platform/uikit/HTMLPageElements.h"

#include <litehtml.h>
#include <litehtml/el_anchor.h>
#include <litehtml/el_font.h>
#include <litehtml/el_style.h>

#include <cstring>
#include <set>
#include <string>

#include "platform/uikit/HTMLStyleSheets.h"

namespace {

// A <style> element: collects its text as the engine's does and hands the sheet on without
// comments. (The engine's class keeps its children to itself, so this one keeps its own list.)
class StyleElement : public litehtml::el_style {
 public:
  using el_style::el_style;

  bool appendChild(const ptr& child) override {
    if (child) text_.push_back(child);
    return el_style::appendChild(child);
  }

  void parse_attributes() override {
    litehtml::tstring text;
    for (const auto& child : text_) child->get_text(text);
    const std::string sheet = HTMLStyleSheets::withoutComments(text);
    if (auto document = get_document()) document->add_stylesheet(sheet.c_str(), nullptr, get_attr("media"));
  }

 private:
  litehtml::elements_vector text_;
};

bool wraps(litehtml::white_space whiteSpace) {
  return whiteSpace == litehtml::white_space_normal || whiteSpace == litehtml::white_space_pre_line ||
         whiteSpace == litehtml::white_space_pre_wrap;
}

// An element of the engine's class `Base` whose display, where the engine computes it, says
// "inline-block" in place of "inline" when the element's white-space is nowrap and its parent's
// lines wrap. (Parents are styled before their children, so the parent's white-space is known.)
template <class Base>
class NoWrapInline : public Base {
 public:
  using Base::Base;

  const litehtml::tchar_t* get_style_property(const litehtml::tchar_t* name, bool inherited,
                                              const litehtml::tchar_t* def = nullptr) const override {
    const litehtml::tchar_t* value = Base::get_style_property(name, inherited, def);
    if (!name || !value || std::strcmp(name, "display") != 0 || std::strcmp(value, "inline") != 0) return value;
    const litehtml::tchar_t* whiteSpace = Base::get_style_property("white-space", true, "normal");
    if (!whiteSpace || std::strcmp(whiteSpace, "nowrap") != 0) return value;
    const auto parent = this->parent();
    return parent && wraps(parent->get_white_space()) ? "inline-block" : value;
  }
};

// The tags the engine makes elements of its own classes for (and lays out as blocks, tables,
// images and the like, or never shows).
bool hasClassOfItsOwn(const std::string& tag) {
  static const std::set<std::string> tags = {"base", "body", "br", "div",   "img",   "li", "link", "p",
                                             "script", "style", "table", "td", "th", "title", "tr"};
  return tags.count(tag) != 0;
}

}  // namespace

namespace htmlpage {

std::shared_ptr<litehtml::element> createElement(const char* tagName, const std::shared_ptr<litehtml::document>& document) {
  if (!tagName) return nullptr;
  // Tag names are compared as the engine compares them, exactly.
  if (std::strcmp(tagName, "style") == 0) return std::make_shared<StyleElement>(document);
  if (std::strcmp(tagName, "a") == 0) return std::make_shared<NoWrapInline<litehtml::el_anchor>>(document);
  if (std::strcmp(tagName, "font") == 0) return std::make_shared<NoWrapInline<litehtml::el_font>>(document);
  if (hasClassOfItsOwn(tagName)) return nullptr;
  return std::make_shared<NoWrapInline<litehtml::html_tag>>(document);
}

}  // namespace htmlpage
