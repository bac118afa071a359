#pragma once
// Where the database client gets the auth token it presents to the server. The repository asks
// for changes once at start-up and passes every new token (or none, when signed out) to the
// connection's refreshAuthToken.
#include <functional>
#include <optional>
#include <string>

class FAuthTokenProvider {
 public:
  using TokenListener = std::function<void(const std::optional<std::string>& token)>;
  virtual ~FAuthTokenProvider() = default;
  // Calls the listener whenever the token changes, on a thread of the provider's choosing.
  virtual void listenForTokenChanges(TokenListener listener) = 0;
};
