#pragma once
// Builders shared by the engine tests: nodes from JSON text, paths, queries, registrations that
// record nothing but their identity, and a readable form of event lists.
#include <string>
#include <vector>

#include "platform/foundation/NSString.h"
#include "sdk/database/core/FCancelEvent.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FQueryParams.h"
#include "sdk/database/realtime/FChildEventRegistration.h"
#include "sdk/database/realtime/FDataEvent.h"
#include "sdk/database/realtime/FValueEventRegistration.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FIndexedNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/support/database/DatabaseTestValues.h"

namespace enginetest {

using testsupport::node;
using testsupport::path;
inline FIndexedNodeRef indexed(const char* json) { return FIndexedNode::indexedNodeWithNode(node(json)); }
inline FIndexedNodeRef indexed(const char* json, const FIndexRef& index) {
  return FIndexedNode::indexedNodeWithNode(node(json), index);
}
inline const FNodeRef& empty() { return FEmptyNode::emptyNode(); }
inline std::string json(const FNodeRef& n) { return value::toJSON(n->val()); }

inline FQuerySpecRef defaultQuery(const char* at) { return FQuerySpec::defaultQueryAtPath(path(at)); }
inline FQuerySpecRef query(const char* at, FQueryParamsRef params) {
  return std::make_shared<const FQuerySpec>(path(at), std::move(params));
}
inline FQueryParamsRef params() { return FQueryParams::defaultInstance(); }

// A value registration with its own handle and no-op callbacks.
inline FEventRegistrationRef valueRegistration(uint64_t handle, bool withCancel = false) {
  FCancelEventCallback cancel;
  if (withCancel) cancel = [](const NSErrorRef&) {};
  return std::make_shared<const FValueEventRegistration>(nullptr, handle, [](const ZIRDataSnapshotRef&) {}, cancel);
}
// A child registration taking the listed event types.
inline FEventRegistrationRef childRegistration(uint64_t handle, std::vector<FEventType> types, bool withCancel = false) {
  FChildEventCallbacks callbacks;
  for (FEventType type : types) {
    callbacks[type] = [](const ZIRDataSnapshotRef&, const std::optional<std::string>&) {};
  }
  FCancelEventCallback cancel;
  if (withCancel) cancel = [](const NSErrorRef&) {};
  return std::make_shared<const FChildEventRegistration>(nullptr, handle, callbacks, cancel);
}
inline FEventRegistrationRef allChildRegistration(uint64_t handle) {
  return childRegistration(handle, {FEventTypeChildAdded, FEventTypeChildRemoved, FEventTypeChildChanged,
                                    FEventTypeChildMoved});
}

inline const char* typeName(FEventType type) {
  switch (type) {
    case FEventTypeChildAdded: return "added";
    case FEventTypeChildRemoved: return "removed";
    case FEventTypeChildChanged: return "changed";
    case FEventTypeChildMoved: return "moved";
    case FEventTypeValue: return "value";
  }
  return "?";
}

// "value /a {"b":1}", "added /a/b 1 prev=x", "cancel /a".
inline std::string describe(const FEventRef& event) {
  if (event->isCancelEvent()) return "cancel " + event->path()->toString();
  auto data = std::static_pointer_cast<const FDataEvent>(event);
  std::string out = std::string(typeName(data->eventType())) + " " + data->snapshot()->ref()->path()->toString() + " " +
                    value::toJSON(data->snapshot()->value());
  if (data->prevName()) out += " prev=" + *data->prevName();
  return out;
}
inline std::vector<std::string> describe(const FEventList& events) {
  std::vector<std::string> out;
  for (const auto& e : events) out.push_back(describe(e));
  return out;
}
// Only the events of one registration.
inline std::vector<std::string> describeFor(const FEventList& events, const FEventRegistrationRef& registration) {
  std::vector<std::string> out;
  for (const auto& e : events) {
    const FEventRegistration* owner =
        e->isCancelEvent() ? std::static_pointer_cast<const FCancelEvent>(e)->eventRegistration().get()
                           : std::static_pointer_cast<const FDataEvent>(e)->eventRegistration().get();
    if (owner == registration.get()) out.push_back(describe(e));
  }
  return out;
}

using Strings = std::vector<std::string>;

}  // namespace enginetest
