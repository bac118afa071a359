#pragma once
// The pieces of a URL text, parsed as the platform's URL components do: scheme, user info, host,
// port, path, query items and fragment. Parsing is strict: a text holding characters that a URL
// may not hold unescaped (spaces, control characters, bytes above 0x7F), a malformed percent
// escape, a scheme that does not start with a letter or a port that is not all digits is refused
// (nullopt). Values are handed out percent-decoded; "+" stays "+".
//
// A value type; no state beyond the parsed pieces, safe to copy between threads.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct NSURLQueryItem {
  std::string name;
  std::optional<std::string> value;  // nullopt for an item without "="
};

class NSURLComponents {
 public:
  // Refuses texts longer than this many bytes (a URL is configuration, not data).
  static constexpr size_t kMaxLength = 64 * 1024;

  static std::optional<NSURLComponents> componentsWithString(std::string_view text);

  const std::optional<std::string>& scheme() const { return scheme_; }
  const std::optional<std::string>& user() const { return user_; }
  const std::optional<std::string>& host() const { return host_; }  // without brackets for IPv6
  const std::optional<int64_t>& port() const { return port_; }
  const std::string& path() const { return path_; }
  const std::optional<std::vector<NSURLQueryItem>>& queryItems() const { return queryItems_; }
  const std::optional<std::string>& fragment() const { return fragment_; }

 private:
  std::optional<std::string> scheme_;
  std::optional<std::string> user_;
  std::optional<std::string> host_;
  std::optional<int64_t> port_;
  std::string path_;
  std::optional<std::vector<NSURLQueryItem>> queryItems_;
  std::optional<std::string> fragment_;
};
