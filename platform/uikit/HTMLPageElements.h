#pragma once
// The elements the page renderer makes in place of the HTML engine's own, where the engine's
// would go wrong:
// - <style>: its sheet reaches the engine without comments (HTMLStyleSheets::withoutComments), as
//   the engine's own stripping never ends on some unterminated comments (" /*").
// The engine asks for them as it builds a page (its container's create_element); main thread only.
#include <memory>

namespace litehtml {
class document;
class element;
}  // namespace litehtml

namespace htmlpage {

// The element for a tag, or null where the engine's own is right.
std::shared_ptr<litehtml::element> createElement(const char* tagName, const std::shared_ptr<litehtml::document>& document);

}  // namespace htmlpage
