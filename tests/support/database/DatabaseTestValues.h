#pragma once
// The database tests' shorthand for data and locations: a node from JSON text or from a value,
// and a path from its text.
#include "platform/foundation/Value.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

namespace testsupport {

inline FNodeRef node(const char* json) { return FSnapshotUtilities::nodeFrom(Value::parse(json)); }
inline FNodeRef node(const Value& value) { return FSnapshotUtilities::nodeFrom(value); }
inline FPathRef path(const char* text) { return FPath::pathWithString(text); }

}  // namespace testsupport
