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
  // Whether the hashes describe all the data the client holds under the listen. The server
  // answers a listen whose hash matches its data with no data: where views under the listen hold
  // data the hashed node leaves out (or holds otherwise), that answer would leave them as they
  // are, so the listen carries no hash and the server sends its data.
  virtual bool describesDataBelow() const { return true; }
};

using FSyncTreeHashRef = std::shared_ptr<const FSyncTreeHash>;
