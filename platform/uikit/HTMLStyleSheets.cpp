#include "platform/uikit/HTMLStyleSheets.h"

#include <charconv>
#include <filesystem>

#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/uikit/HTMLPageRenderer.h"

namespace {

// The base address of a reading: the prefix and its index. No page reference resolves to it: the
// engine hands base addresses only to the page's container, never to a file name of its own.
constexpr std::string_view kReadingAddress = "style-sheet-reading:";

std::string readError(ns::FileRead result, const std::string& why) {
  switch (result) {
    case ns::FileRead::Missing: return "no such file";
    case ns::FileRead::TooLarge:
      return "the file is larger than " + std::to_string(HTMLPageRenderer::kMaxStyleSheetBytes) + " bytes";
    case ns::FileRead::Unreadable: return "the file cannot be read: " + why;
    case ns::FileRead::Read: break;
  }
  return "the file cannot be read";
}

}  // namespace

void HTMLStyleSheets::startPage(const std::string& directory) {
  pageDirectory_ = directory;
  readings_.clear();
  sheetsRead_ = 0;
}

std::optional<size_t> HTMLStyleSheets::readingOf(const std::string& baseurl) const {
  if (baseurl.compare(0, kReadingAddress.size(), kReadingAddress) != 0) return std::nullopt;
  const char* digits = baseurl.data() + kReadingAddress.size();
  const char* end = baseurl.data() + baseurl.size();
  size_t index = 0;
  auto [last, ec] = std::from_chars(digits, end, index);
  if (ec != std::errc() || last != end || index >= readings_.size()) return std::nullopt;
  return index;
}

std::string HTMLStyleSheets::baseDirectory(const std::string& baseurl) const {
  if (auto reading = readingOf(baseurl)) return readings_[*reading].directory;
  return baseurl.empty() ? pageDirectory_ : baseurl;
}

bool HTMLStyleSheets::onChain(const htmlpage::FileIdentity& file, std::optional<size_t> reading) const {
  for (; reading; reading = readings_[*reading].importer) {
    if (readings_[*reading].file == file) return true;
  }
  return false;
}

void HTMLStyleSheets::readSheet(std::string& text, const std::string& url, std::string& baseurl) {
  text.clear();
  const auto importer = readingOf(baseurl);
  const auto path = htmlpage::localPath(url, baseDirectory(baseurl));
  if (!path) return;  // an address of another kind: nothing is fetched
  auto refuse = [&](const std::string& why) {
    NSLog("HTMLPageRenderer: style sheet %s not loaded: %s", url.c_str(), why.c_str());
  };
  const auto file = htmlpage::fileIdentity(*path);
  if (file) {
    if (onChain(*file, importer)) return refuse("it imports itself (through the sheets that import it)");
    if (sheetsRead_ >= HTMLPageRenderer::kMaxStyleSheets) {
      return refuse("the page reads more than " + std::to_string(HTMLPageRenderer::kMaxStyleSheets) + " style sheets");
    }
    ++sheetsRead_;
  }
  // Never waits: a FIFO or a device named as a sheet is refused unread (ns::readFile).
  std::string bytes, why;
  if (auto result = ns::readFile(*path, HTMLPageRenderer::kMaxStyleSheetBytes, &bytes, &why); result != ns::FileRead::Read) {
    return refuse(readError(result, why));
  }
  text = withoutComments(bytes);
  readings_.push_back({file, importer, std::filesystem::path(*path).parent_path().string()});
  baseurl = std::string(kReadingAddress) + std::to_string(readings_.size() - 1);
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A character of a name (an identifier, a number's unit, a hash) as CSS counts them; a '\' starts
// an escape, which is one too.
bool isNameCharacter(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || isDigit(c) || u == '-' || u == '_' || u == '\\' || u >= 0x80;
}

// Whether `left` and `right`, with nothing between them any more, would read as one token (or
// open a comment) where the comment that stood between them kept them apart: "1px/**/solid",
// "a/**/(", "#/**/x", "/" "/**/" "*".
bool wouldJoin(char left, char right) {
  if (isNameCharacter(left)) return isNameCharacter(right) || right == '(' || right == '%';
  switch (left) {
    case '/': return right == '*';
    case '#':
    case '@': return isNameCharacter(right);
    case '.': return isDigit(right);
    case '+': return isDigit(right) || right == '.';
    case '|': return right == '=' || right == '|';
    case '~':
    case '^':
    case '$':
    case '*': return right == '=';
    case '<': return right == '!';
    default: return false;
  }
}

// Whether an unquoted url begins at `at`: "url(" in any case, not the end of a longer name.
bool urlStartsAt(std::string_view css, size_t at) {
  if (at > 0 && isNameCharacter(css[at - 1])) return false;
  if (css.size() - at < 4 || css[at + 3] != '(') return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  return lower(css[at]) == 'u' && lower(css[at + 1]) == 'r' && lower(css[at + 2]) == 'l';
}

bool isWhitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

}  // namespace

std::string HTMLStyleSheets::withoutComments(std::string_view css) {
  enum class In { Rules, String, Url };
  In in = In::Rules;
  char quote = 0;
  std::string text;
  text.reserve(css.size());
  // The engine takes out "/*" to the next "*/" wherever they stand, in strings and urls too: a '*'
  // is never written right after a '/'. In a string or url it is written as the escape CSS reads
  // as the same '*'; elsewhere the two are delimiters, kept apart by a space.
  auto put = [&](char c) {
    if (c == '*' && !text.empty() && text.back() == '/') {
      text += in == In::Rules ? " *" : "\\2a ";
      return;
    }
    text.push_back(c);
  };
  size_t i = 0;
  while (i < css.size()) {
    const char c = css[i];
    // An escape is two characters, whatever the second is: "\"" does not end a string, "\/" is no
    // comment's '/'. CSS reads CR LF as one line end (as it reads CR and form feed alone), so a
    // backslash before CR LF continues a string over both: the LF must not end it.
    if (c == '\\' && i + 1 < css.size()) {
      const size_t length = css[i + 1] == '\r' && i + 2 < css.size() && css[i + 2] == '\n' ? 3 : 2;
      for (size_t k = 0; k < length; ++k) put(css[i + k]);
      i += length;
      continue;
    }
    switch (in) {
      case In::String:
        // The string ends at its quote, or (unfinished) before a newline.
        if (c == quote || c == '\n' || c == '\r' || c == '\f') in = In::Rules;
        break;
      case In::Url:
        if (c == ')') in = In::Rules;
        break;
      case In::Rules:
        if (c == '/' && i + 1 < css.size() && css[i + 1] == '*') {
          const size_t end = css.find("*/", i + 2);
          i = end == std::string_view::npos ? css.size() : end + 2;
          if (i < css.size() && !text.empty() && wouldJoin(text.back(), css[i])) text.push_back(' ');
          continue;
        }
        if (c == '"' || c == '\'') {
          in = In::String;
          quote = c;
        } else if (urlStartsAt(css, i)) {
          text.append(css.substr(i, 4));
          i += 4;
          // "url(" and a quote is a function taking a string; without one, the url runs to ')'.
          size_t next = i;
          while (next < css.size() && isWhitespace(css[next])) ++next;
          if (next == css.size() || (css[next] != '"' && css[next] != '\'')) in = In::Url;
          continue;
        }
        break;
    }
    put(c);
    ++i;
  }
  return text;
}
