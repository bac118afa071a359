// Answers of the installations service: registration and token answers parsed into records, an
// error answer made into an error, and any answer as its debug line shows it (tokens redacted).
#include <cstdlib>

#include "platform/network/NSURLSession.h"
#include "sdk/installations/RARUruzariduzuraAPIService.h"
#include "sdk/installations/RARUruzariduzuraErrorUtil.h"
#include "sdk/installations/RARUruzariduzuraItem.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {
// Every "refreshToken" and "token" of the logged JSON holds "<redacted>".
bool redacted(const Value& root) {
  std::vector<const Value*> pending{&root};
  while (!pending.empty()) {
    const Value* v = pending.back();
    pending.pop_back();
    if (v->is_array()) {
      for (const auto& item : *v) pending.push_back(&item);
    } else if (v->is_object()) {
      for (auto it = v->begin(); it != v->end(); ++it) {
        if ((it.key() == "refreshToken" || it.key() == "token") && it.value() != "<redacted>") return false;
        pending.push_back(&it.value());
      }
    }
  }
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes body(data, data + size);
  RARUruzariduzuraItem item("1:123456789:ios:abcdef", "fuzz");
  item.zirezizeInstallationID = "cyWBFhsmuEuVnOjc9Ptc82";
  NSErrorRef error;
  auto registered = item.registeredInstallationWithJSONData(body, 1000, &error);
  if (!registered == !error) std::abort();
  if (registered) {
    if (!registered->refreshToken || !registered->authToken) std::abort();
    // What the parser accepts the record's own check accepts too (no control characters in the
    // tokens and identifier, which go into request headers).
    if (!registered->isValid(&error)) fuzzsupport::broken("a parsed registration is not a valid record");
  }
  error = nullptr;
  auto token = RARUruzariduzuraItem::authTokenWithGenerateTokenAPIJSONData(body, 1000, &error);
  if (!token == !error) std::abort();
  if (token && !(token->expirationDate() > 1000)) std::abort();

  auto response = std::make_shared<const NSHTTPURLResponse>("https://example.invalid/v1", 400, NSHTTPHeaderList{});
  auto apiError = RARUruzariduzuraErrorUtil::APIErrorWithHTTPResponse(response, body);
  if (!apiError) std::abort();
  (void)apiError->description();

  const std::string logged = RARUruzariduzuraAPIService::loggableBody(body);
  if (auto shown = value::parseJSON(logged); shown && !redacted(*shown)) std::abort();
  return 0;
}
