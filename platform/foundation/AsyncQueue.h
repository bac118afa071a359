#pragma once
// Somewhere a block can be handed to run later, after the blocks handed to it before, on a thread
// of its own choosing: what a notification observer names so that its block runs there. Foundation
// only declares it; the queues of the dispatch library (which is built on foundation) are the
// ones there are. An implementation catches what a block throws.
#include <functional>

class AsyncQueue {
 public:
  virtual ~AsyncQueue() = default;
  // Hands `block` to the queue and returns at once; the queue runs it later.
  virtual void async(std::function<void()> block) = 0;
};
