#include "platform/uikit/HTMLPageMeasure.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <vector>

namespace {

constexpr size_t npos = std::string::npos;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
bool isAlpha(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

std::string lowercase(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

size_t findNoCase(const std::string& text, const std::string& needle, size_t from) {
  auto it = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), needle.begin(), needle.end(),
                        [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
                        });
  return it == text.end() ? npos : static_cast<size_t>(it - text.begin());
}

// Just past the comment that opens at `lt` ("<!--"): past the first "-->" or "--!>" from its own
// dashes on (so "<!-->" and "<!--->" are whole, empty comments); the text's end when none comes.
size_t commentEnd(const std::string& html, size_t lt) {
  for (size_t dashes = html.find("--", lt + 2); dashes != npos; dashes = html.find("--", dashes + 1)) {
    if (html.compare(dashes + 2, 1, ">") == 0) return dashes + 3;
    if (html.compare(dashes + 2, 2, "!>") == 0) return dashes + 4;
  }
  return html.size();
}

// Reads a tag's attributes from `i` (just past its name) as the HTML tokenizer does, counting them
// in *count (it stops once the count passes `limit`), and returns the position just past the '>'
// that ends the tag (the text's end when none does).
size_t readAttributes(const std::string& html, size_t i, int limit, int* count) {
  const size_t n = html.size();
  *count = 0;
  while (i < n) {
    // Before a name: white space and '/' only separate attributes.
    const char c = html[i];
    if (isSpace(c) || c == '/') {
      ++i;
      continue;
    }
    if (c == '>') return i + 1;
    if (++*count > limit) return n;
    // The name: its first character whatever it is (even '='), then up to white space, '/', '>' or '='.
    ++i;
    while (i < n && !isSpace(html[i]) && html[i] != '/' && html[i] != '>' && html[i] != '=') ++i;
    while (i < n && isSpace(html[i])) ++i;
    if (i >= n || html[i] != '=') continue;  // no value: the next attribute or the end
    ++i;
    while (i < n && isSpace(html[i])) ++i;
    if (i >= n) break;
    if (html[i] == '"' || html[i] == '\'') {
      const size_t close = html.find(html[i], i + 1);
      if (close == npos) return n;
      i = close + 1;
    } else {
      while (i < n && !isSpace(html[i]) && html[i] != '>') ++i;
    }
  }
  return n;
}

}  // namespace

HTMLPageMeasure HTMLPageMeasure::of(const std::string& html, int nestingLimit, int attributeLimit) {
  static const std::set<std::string> voids = {"area", "base", "br",   "col",   "embed",  "hr",    "img",
                                              "input", "link", "meta", "param", "source", "track", "wbr"};
  static const std::set<std::string> rawText = {"script", "style", "textarea", "title", "xmp", "plaintext"};
  HTMLPageMeasure measure;
  std::vector<std::string> open;
  const size_t n = html.size();
  size_t i = 0;
  while (i < n) {
    const size_t lt = html.find('<', i);
    if (lt == npos || lt + 1 >= n) break;
    i = lt + 1;
    if (html.compare(lt, 4, "<!--") == 0) {
      i = commentEnd(html, lt);
      continue;
    }
    const bool closing = html[i] == '/';
    if (closing) ++i;
    if (i >= n || !isAlpha(html[i])) continue;  // not a tag
    const size_t start = i;
    while (i < n && !isSpace(html[i]) && html[i] != '/' && html[i] != '>') ++i;
    std::string name = lowercase(html.substr(start, i - start));
    int attributes = 0;
    i = readAttributes(html, i, attributeLimit, &attributes);
    measure.mostAttributes = std::max(measure.mostAttributes, attributes);
    if (measure.mostAttributes > attributeLimit) break;
    if (closing) {
      // An end tag closes the innermost open element of its name and those inside it; one of
      // nothing open closes nothing.
      auto it = std::find(open.rbegin(), open.rend(), name);
      if (it != open.rend()) open.erase(std::next(it).base(), open.end());
      continue;
    }
    if (voids.count(name)) continue;
    if (rawText.count(name)) {
      const size_t end = findNoCase(html, "</" + name, i);
      i = end == npos ? n : end;
      continue;
    }
    open.push_back(std::move(name));
    measure.nesting = std::max(measure.nesting, static_cast<int>(open.size()));
    if (measure.nesting > nestingLimit) break;
  }
  return measure;
}
