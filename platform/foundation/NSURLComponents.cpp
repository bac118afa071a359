#include "platform/foundation/NSURLComponents.h"

#include <cstring>

#include "platform/foundation/NSString.h"

namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The characters a URL may hold unescaped: unreserved, reserved and "%".
bool isURLCharacter(char c) {
  if (isAlpha(c) || isDigit(c)) return true;
  return c != '\0' && std::strchr("-._~:/?#[]@!$&'()*+,;=%", c) != nullptr;
}

// Percent-decodes a piece whose escapes were checked already; nullopt when the bytes that come
// out are not UTF-8.
std::optional<std::string> decode(std::string_view piece) {
  std::string out;
  out.reserve(piece.size());
  for (size_t i = 0; i < piece.size(); ++i) {
    if (piece[i] == '%') {
      out.push_back(static_cast<char>(hexValue(piece[i + 1]) * 16 + hexValue(piece[i + 2])));
      i += 2;
    } else {
      out.push_back(piece[i]);
    }
  }
  if (!ns::isValidUTF8(out)) return std::nullopt;
  return out;
}

// Only characters a URL may hold, and every "%" followed by two hex digits.
bool hasOnlyURLCharactersAndValidEscapes(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (!isURLCharacter(text[i])) return false;
    if (text[i] == '%') {
      if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) return false;
    }
  }
  return true;
}

// The scheme: the text before the first ":" when no "/", "?" or "#" comes before it, taken off
// `rest`. Answers false for a scheme of characters a scheme cannot hold.
bool takeScheme(std::string_view& rest, std::optional<std::string>& scheme) {
  const size_t colon = rest.find(':');
  if (colon == std::string_view::npos || colon >= rest.find_first_of("/?#")) return true;
  const std::string_view text = rest.substr(0, colon);
  if (text.empty() || !isAlpha(text[0])) return false;
  for (char c : text) {
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
  }
  scheme = std::string(text);
  rest = rest.substr(colon + 1);
  return true;
}

// A port of at most five digits up to 65535; nullopt for anything else.
std::optional<int64_t> parsePort(std::string_view text) {
  if (text.size() > 5) return std::nullopt;
  int64_t port = 0;
  for (char c : text) {
    if (!isDigit(c)) return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port > 65535) return std::nullopt;
  return port;
}

struct Authority {
  std::optional<std::string> user;
  std::string host;  // without brackets for IPv6
  std::optional<int64_t> port;
};

// "[user@]host[:port]" with an IPv6 host in brackets; nullopt when it does not parse.
std::optional<Authority> parseAuthority(std::string_view authority) {
  Authority out;
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    out.user = decode(authority.substr(0, at));
    if (!out.user) return std::nullopt;
    authority = authority.substr(at + 1);
  }
  std::string_view host;
  std::optional<std::string_view> portText;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(1, close - 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return std::nullopt;
      portText = after.substr(1);
    }
  } else {
    const size_t portColon = authority.find(':');
    host = authority.substr(0, portColon);
    if (portColon != std::string_view::npos) portText = authority.substr(portColon + 1);
    if (host.find_first_of("[]") != std::string_view::npos) return std::nullopt;
  }
  auto decodedHost = decode(host);
  if (!decodedHost) return std::nullopt;
  out.host = std::move(*decodedHost);
  // An empty port after the colon is no port.
  if (portText && !portText->empty()) {
    out.port = parsePort(*portText);
    if (!out.port) return std::nullopt;
  }
  return out;
}

// "name[=value]&..." decoded; nullopt when an item does not decode.
std::optional<std::vector<NSURLQueryItem>> parseQueryItems(std::string_view query) {
  std::vector<NSURLQueryItem> items;
  size_t start = 0;
  while (!query.empty() && start <= query.size()) {
    const size_t amp = query.find('&', start);
    const std::string_view item =
        query.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
    NSURLQueryItem parsed;
    const size_t eq = item.find('=');
    auto name = decode(item.substr(0, eq));
    if (!name) return std::nullopt;
    parsed.name = std::move(*name);
    if (eq != std::string_view::npos) {
      auto value = decode(item.substr(eq + 1));
      if (!value) return std::nullopt;
      parsed.value = std::move(*value);
    }
    items.push_back(std::move(parsed));
    if (amp == std::string_view::npos) break;
    start = amp + 1;
  }
  return items;
}

}  // namespace

std::optional<NSURLComponents> NSURLComponents::componentsWithString(std::string_view text) {
  if (text.size() > kMaxLength || !hasOnlyURLCharactersAndValidEscapes(text)) return std::nullopt;

  NSURLComponents out;
  std::string_view rest = text;
  if (!takeScheme(rest, out.scheme_)) return std::nullopt;

  if (rest.substr(0, 2) == "//") {
    rest = rest.substr(2);
    const size_t end = rest.find_first_of("/?#");
    auto authority = parseAuthority(rest.substr(0, end));
    if (!authority) return std::nullopt;
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    out.user_ = std::move(authority->user);
    out.host_ = std::move(authority->host);
    out.port_ = authority->port;
  }

  const size_t hash = rest.find('#');
  if (hash != std::string_view::npos) {
    out.fragment_ = decode(rest.substr(hash + 1));
    if (!out.fragment_) return std::nullopt;
    rest = rest.substr(0, hash);
  }
  const size_t question = rest.find('?');
  if (question != std::string_view::npos) {
    out.queryItems_ = parseQueryItems(rest.substr(question + 1));
    if (!out.queryItems_) return std::nullopt;
    rest = rest.substr(0, question);
  }
  if (rest.find_first_of("[]") != std::string_view::npos) return std::nullopt;
  auto path = decode(rest);
  if (!path) return std::nullopt;
  out.path_ = std::move(*path);
  return out;
}
