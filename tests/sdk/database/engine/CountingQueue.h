#pragma once
// A dispatch queue for tests that records what is scheduled on it and runs it only when asked,
// so a test sees exactly which callbacks were scheduled and in which order.
#include <vector>

#include "platform/dispatch/Dispatch.h"

class CountingQueue : public DispatchQueue {
 public:
  CountingQueue() : DispatchQueue("test.counting", true) {}
  static std::shared_ptr<CountingQueue> make() { return std::make_shared<CountingQueue>(); }

  bool isCurrent() const override { return false; }
  void async(DispatchBlock block) override { pending.push_back(std::move(block)); }
  bool sync(DispatchBlock block) override {
    block();
    return true;
  }
  // Runs what was scheduled, in order; returns how many blocks ran.
  size_t drain() {
    std::vector<DispatchBlock> blocks;
    blocks.swap(pending);
    for (auto& block : blocks) block();
    return blocks.size();
  }

  std::vector<DispatchBlock> pending;
};
