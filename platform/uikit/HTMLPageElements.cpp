#include "platform/uikit/HTMLPageElements.h"

#include <litehtml.h>
#include <litehtml/el_style.h>

#include <cstring>
#include <vector>

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

}  // namespace

namespace htmlpage {

std::shared_ptr<litehtml::element> createElement(const char* tagName, const std::shared_ptr<litehtml::document>& document) {
  if (!tagName) return nullptr;
  // Tag names are compared as the engine compares them, exactly.
  if (std::strcmp(tagName, "style") == 0) return std::make_shared<StyleElement>(document);
  return nullptr;
}

}  // namespace htmlpage
