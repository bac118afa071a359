#pragma once
// A measure of an HTML page's text, taken before the HTML parser runs, of what makes the parser's
// work grow faster than the text: the element nesting (its work grows with the square of the
// depth) and the attributes of one tag (each attribute is compared with every one before it in its
// tag, so the work grows with the square of their number).
//
// Both are upper bounds of what the parser builds, read as its tokenizer reads the text: comments
// (which "-->" or "--!>" ends) and the text of script, style, textarea, title, xmp and plaintext
// hold no tags; a quoted attribute value may hold '>'; an element stays open until its own end tag
// (implied closings and "/>" are not counted, so the nesting errs on the deep side); attributes are
// counted in start and end tags alike, a repeated name as often as it is written. Where the text
// is ambiguous the measure takes the larger reading.
// Any thread; no state.
#include <string>

struct HTMLPageMeasure {
  int nesting = 0;         // the deepest element nesting
  int mostAttributes = 0;  // the most attributes written in one tag

  // Measures the text; stops reading once either count passes its limit (it is then past it), so
  // the cost is one pass over the text at most.
  static HTMLPageMeasure of(const std::string& html, int nestingLimit, int attributeLimit);
};
