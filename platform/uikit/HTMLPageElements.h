#pragma once
// The elements the page renderer makes in place of the HTML engine's own, where the engine's
// would go wrong:
// - <style>: its sheet reaches the engine without comments (HTMLStyleSheets::withoutComments), as
//   the engine's own stripping never ends on some unterminated comments (" /*").
// - the inline elements (span, a, b, code, font and every tag the engine has no class of its own
//   for): the engine breaks a block's lines wherever the block's own white-space allows, whatever
//   the white-space of the inline elements on them, so a "white-space: nowrap" <span> around
//   "FFT SIZE" broke in two. An inline element whose white-space is nowrap, in a parent whose lines
//   wrap, is laid out as an inline block: one piece of its line, moved to the next line whole,
//   that lays its content out on one line. (Its border and background then span its line's
//   height, not only its text's.)
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
