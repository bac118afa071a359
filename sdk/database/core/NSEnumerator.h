#pragma once
// The object enumerator of the collections: hands out one element per call until it runs dry.
#include <memory>
#include <optional>

template <typename T>
class NSEnumerator {
 public:
  virtual ~NSEnumerator() = default;
  // The next element, or nullopt once every element was handed out (and on every later call).
  virtual std::optional<T> nextObject() = 0;
};

template <typename T>
using NSEnumeratorRef = std::shared_ptr<NSEnumerator<T>>;
