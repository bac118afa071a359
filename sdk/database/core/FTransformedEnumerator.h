#pragma once
// Turns an enumeration of one kind of object into an enumeration of another.
#include <functional>
#include <memory>
#include <optional>

#include "sdk/database/core/NSEnumerator.h"

template <typename In, typename Out>
class FTransformedEnumerator : public NSEnumerator<Out> {
 public:
  FTransformedEnumerator(NSEnumeratorRef<In> enumerator, std::function<Out(const In&)> transform)
      : enumerator_(std::move(enumerator)), transform_(std::move(transform)) {}

  // The transform of the source's next object; nullopt (without calling the transform) at the end.
  std::optional<Out> nextObject() override {
    std::optional<In> next = enumerator_->nextObject();
    if (!next) return std::nullopt;
    return transform_(*next);
  }

 private:
  NSEnumeratorRef<In> enumerator_;
  std::function<Out(const In&)> transform_;
};
