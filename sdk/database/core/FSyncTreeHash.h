#pragma once
// What a listen tells the server about the data the client already holds for it, so the server
// can skip sending what has not changed: a simple hash of the cached node and, for large nodes, a
// compound hash of its ranges. Handed to the connection with each listen; read on the work queue.
#include <memory>
#include <string>

#include "sdk/database/core/FCompoundHash.h"

class FSyncTreeHash {
 public:
  virtual ~FSyncTreeHash() = default;
  virtual std::string simpleHash() const = 0;
  virtual FCompoundHashRef compoundHash() const = 0;
  // Whether the compound hash is worth sending (the cached node is large).
  virtual bool includeCompoundHash() const = 0;
};

using FSyncTreeHashRef = std::shared_ptr<const FSyncTreeHash>;
