#pragma once
// A single-producer, single-consumer ring of floats: the render thread writes, another thread
// reads; neither locks or allocates after construction. Samples that do not fit are dropped.
#include <atomic>
#include <cstdint>
#include <memory>

class SpscRing {
 public:
  explicit SpscRing(size_t capacity) : capacity_(capacity), data_(new float[capacity]) {}

  // Producer: returns how many samples were stored.
  size_t write(const float* samples, size_t count) {
    const size_t head = head_.load(std::memory_order_relaxed);
    const size_t tail = tail_.load(std::memory_order_acquire);
    const size_t room = capacity_ - (head - tail);
    const size_t n = count < room ? count : room;
    for (size_t i = 0; i < n; ++i) data_[(head + i) % capacity_] = samples[i];
    head_.store(head + n, std::memory_order_release);
    return n;
  }

  // Consumer: how many samples are waiting.
  size_t readable() const {
    return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_relaxed);
  }

  // Consumer: drops every waiting sample.
  void clear() { tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release); }

  // Consumer: returns how many samples were taken.
  size_t read(float* out, size_t count) {
    const size_t tail = tail_.load(std::memory_order_relaxed);
    const size_t head = head_.load(std::memory_order_acquire);
    const size_t available = head - tail;
    const size_t n = count < available ? count : available;
    for (size_t i = 0; i < n; ++i) out[i] = data_[(tail + i) % capacity_];
    tail_.store(tail + n, std::memory_order_release);
    return n;
  }

 private:
  const size_t capacity_;
  std::unique_ptr<float[]> data_;
  std::atomic<size_t> head_{0};
  std::atomic<size_t> tail_{0};
};
