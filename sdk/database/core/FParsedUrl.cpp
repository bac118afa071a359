// Database URL parsing: which database a URL names and which location in it.
#include <cstring>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSURLComponents.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/database/core/FRepoInfo.h"
#include "sdk/database/core/FUtilities.h"

namespace {

constexpr const char* kParseFailure = "Failed to parse database URL";

// The namespace names a folder of the local cache: it may not climb out of the storage root.
bool isSafeNamespace(const std::string& ns) {
  return ns.find('/') == std::string::npos && ns.find("..") == std::string::npos &&
         ns.find('\0') == std::string::npos;
}

// The URL text without its path text, cut out where the path helper found it: after the "/" that
// ends the host, up to the "?" of the query. Removing the path text by search instead would also
// remove it from the host ("https://abc.x.y/abc").
std::string withoutPath(const std::string& url) {
  size_t start = 0;
  size_t scheme = url.find("//");
  if (scheme != std::string::npos) start = scheme + 2;
  size_t slash = url.find('/', start);
  if (slash == std::string::npos) return url;
  size_t pathStart = slash + 1;
  size_t query = url.find('?', pathStart);
  size_t pathEnd = query == std::string::npos ? url.size() : query;
  return url.substr(0, pathStart) + url.substr(pathEnd);
}

}  // namespace

FParsedUrlRef FUtilities::parseUrl(std::string_view urlText) {
  std::string url(urlText);
  if (url.find("://") == std::string::npos) url.insert(0, "http://");

  std::string pathString = extractPathFromUrlString(url);
  std::optional<NSURLComponents> components = NSURLComponents::componentsWithString(withoutPath(url));
  if (!components || !components->host()) {
    NSException::raise(kParseFailure, "Failed to parse database URL: %s", url.c_str());
  }

  const std::string& writtenHost = *components->host();
  std::string host = ns::lowercase(writtenHost);
  bool secure = true;
  if (components->port()) {
    std::string scheme = components->scheme() ? ns::lowercase(*components->scheme()) : "";
    secure = scheme == "https" || scheme == "wss";
    host.push_back(':');
    host.append(std::to_string(*components->port()));
  }

  std::vector<std::string> labels = ns::split(writtenHost, ".");
  std::string nameSpace = labels.empty() ? std::string() : ns::lowercase(labels[0]);
  if (labels.size() != 3) {
    if (components->queryItems()) {
      for (const NSURLQueryItem& item : *components->queryItems()) {
        if (item.name != "ns") continue;
        if (item.value) nameSpace = *item.value;
        break;
      }
    }
  }
  if (!isSafeNamespace(nameSpace)) {
    NSException::raise(kParseFailure, "Failed to parse database URL: %s (the namespace may not hold \"/\", \"..\" or NUL)",
                       url.c_str());
  }

  FPathRef path = std::make_shared<const FPath>(decodePath("/" + pathString));
  auto repoInfo = std::make_shared<const FRepoInfo>(host, secure, nameSpace);
  if (FUtilitiesLogLevelEnabled(kFLogLevelDebug)) {
    ZIRLogDebug("[Zirezize/Database]", "I-RDB095002", "---> Parsed (%s) to: (%s,%s); ns=(%s); path=(%s)", url.c_str(),
                repoInfo->description().c_str(), repoInfo->connectionURL().c_str(), repoInfo->ns().c_str(),
                path->toString().c_str());
  }
  return std::make_shared<const FParsedUrl>(repoInfo, path);
}
