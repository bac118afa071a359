#include "platform/foundation/StringsFile.h"

#include <cctype>
#include <optional>

#include "platform/foundation/NSString.h"

namespace ns {

namespace {

class Parser {
 public:
  explicit Parser(std::string_view t) : text_(t) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  }

  std::map<std::string, std::string> run(std::string* error) {
    std::map<std::string, std::string> out;
    for (;;) {
      if (!skipSpaceAndComments()) return fail(out, error, "a comment is not closed");
      if (pos_ >= text_.size()) break;
      auto key = token();
      if (!key) return fail(out, error, "a key was expected");
      if (!skipSpaceAndComments()) return fail(out, error, "a comment is not closed");
      if (peek() == ';') {
        ++pos_;
        out[*key] = *key;
        continue;
      }
      if (peek() != '=') return fail(out, error, "\"=\" was expected");
      ++pos_;
      if (!skipSpaceAndComments()) return fail(out, error, "a comment is not closed");
      auto value = token();
      if (!value) return fail(out, error, "a value was expected");
      if (!skipSpaceAndComments()) return fail(out, error, "a comment is not closed");
      if (peek() != ';') return fail(out, error, "\";\" was expected");
      ++pos_;
      out[*key] = *value;
    }
    if (error) error->clear();
    return out;
  }

 private:
  std::map<std::string, std::string>& fail(std::map<std::string, std::string>& out, std::string* error,
                                           const std::string& what) {
    if (error) *error = "line " + std::to_string(line()) + ": " + what;
    return out;
  }

  int line() const {
    int n = 1;
    for (size_t i = 0; i < pos_ && i < text_.size(); ++i)
      if (text_[i] == '\n') ++n;
    return n;
  }

  char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }

  bool skipSpaceAndComments() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (std::isspace(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (text_.substr(pos_, 2) == "//") {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (text_.substr(pos_, 2) == "/*") {
        size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) return false;
        pos_ = end + 2;
      } else {
        break;
      }
    }
    return true;
  }

  static bool bareChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '+' || c == '/' ||
           c == ':' || c == '.' || c == '-';
  }

  std::optional<std::string> token() {
    if (peek() == '"') return quoted();
    size_t start = pos_;
    while (pos_ < text_.size() && bareChar(text_[pos_]) && text_.substr(pos_, 2) != "//" &&
           text_.substr(pos_, 2) != "/*")
      ++pos_;
    if (pos_ == start) return std::nullopt;
    return std::string(text_.substr(start, pos_ - start));
  }

  std::optional<uint32_t> hex(int digits) {
    uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
      if (pos_ >= text_.size() || !std::isxdigit(static_cast<unsigned char>(text_[pos_]))) return std::nullopt;
      char c = text_[pos_++];
      v = v * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10));
    }
    return v;
  }

  std::optional<std::string> quoted() {
    ++pos_;  // opening quote
    std::string out;
    while (pos_ < text_.size()) {
      char c = text_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) return std::nullopt;
      char e = text_[pos_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'a': out += '\a'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'v': out += '\v'; break;
        case 'U':
        case 'u': {
          auto cp = hex(4);
          if (!cp) return std::nullopt;
          // A surrogate pair written as two escapes.
          if (*cp >= 0xD800 && *cp < 0xDC00 && text_.substr(pos_, 2).size() == 2 && text_[pos_] == '\\' &&
              (text_[pos_ + 1] == 'U' || text_[pos_ + 1] == 'u')) {
            size_t save = pos_;
            pos_ += 2;
            auto low = hex(4);
            if (low && *low >= 0xDC00 && *low < 0xE000) {
              cp = 0x10000 + ((*cp - 0xD800) << 10) + (*low - 0xDC00);
            } else {
              pos_ = save;
            }
          }
          if (*cp >= 0xD800 && *cp < 0xE000) cp = 0xFFFD;
          appendUTF8(out, *cp);
          break;
        }
        default:
          if (e >= '0' && e <= '7') {
            uint32_t v = static_cast<uint32_t>(e - '0');
            for (int i = 0; i < 2 && pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '7'; ++i)
              v = v * 8 + static_cast<uint32_t>(text_[pos_++] - '0');
            appendUTF8(out, v);
          } else {
            out += e;  // \" \\ \' and any other character stand for themselves
          }
      }
    }
    return std::nullopt;  // unterminated
  }

  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

std::map<std::string, std::string> parseStringsFile(std::string_view text, std::string* error) {
  return Parser(text).run(error);
}

}  // namespace ns
