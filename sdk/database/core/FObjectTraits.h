#pragma once
// Description, hash and equality of the generic keys and values held by the persistent collections.
// Objects (std::shared_ptr) answer through their own description()/hash()/isEqual() when they have
// them; strings, numbers and booleans are described as the platform describes them.
#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "platform/foundation/NSString.h"

// The value that a set stores for each member: it carries nothing.
struct FSetPlaceholder {
  bool operator==(const FSetPlaceholder&) const = default;
};

namespace fobject {

template <typename T>
struct IsSharedPtr : std::false_type {};
template <typename T>
struct IsSharedPtr<std::shared_ptr<T>> : std::true_type {};

template <typename T>
std::string description(const T& v);
template <typename T>
uint64_t hash(const T& v);
template <typename T>
bool isEqual(const T& a, const T& b);

template <typename T>
std::string description(const T& v) {
  if constexpr (IsSharedPtr<T>::value) {
    if (!v) return "<null>";
    return description(*v);
  } else if constexpr (std::is_same_v<T, std::string>) {
    return v;
  } else if constexpr (std::is_same_v<T, bool>) {
    return v ? "1" : "0";
  } else if constexpr (std::is_integral_v<T>) {
    return std::to_string(v);
  } else if constexpr (std::is_floating_point_v<T>) {
    return ns::format("%.17g", static_cast<double>(v));
  } else if constexpr (std::is_same_v<T, FSetPlaceholder>) {
    return "<null>";
  } else if constexpr (requires { { v.description() } -> std::convertible_to<std::string>; }) {
    return v.description();
  } else {
    return "<object>";
  }
}

template <typename T>
uint64_t hash(const T& v) {
  if constexpr (IsSharedPtr<T>::value) {
    if (!v) return 0;
    using E = std::remove_cv_t<typename T::element_type>;
    if constexpr (requires(const E& e) { { e.hash() } -> std::convertible_to<uint64_t>; }) {
      return static_cast<uint64_t>(v->hash());
    } else {
      return static_cast<uint64_t>(std::hash<const void*>()(v.get()));
    }
  } else if constexpr (std::is_same_v<T, FSetPlaceholder>) {
    return 0;
  } else if constexpr (requires { { v.hash() } -> std::convertible_to<uint64_t>; }) {
    return static_cast<uint64_t>(v.hash());
  } else {
    return static_cast<uint64_t>(std::hash<T>()(v));
  }
}

// Same object, or equal by the object's own equality.
template <typename T>
bool isEqual(const T& a, const T& b) {
  if constexpr (IsSharedPtr<T>::value) {
    if (a.get() == b.get()) return true;
    if (!a || !b) return false;
    using E = std::remove_cv_t<typename T::element_type>;
    if constexpr (requires(const E& x, const E& y) { { x.isEqual(y) } -> std::convertible_to<bool>; }) {
      return a->isEqual(*b);
    } else if constexpr (std::equality_comparable<E>) {
      return *a == *b;
    } else {
      return false;
    }
  } else if constexpr (requires { { a.isEqual(b) } -> std::convertible_to<bool>; }) {
    return a.isEqual(b);
  } else {
    return a == b;
  }
}

}  // namespace fobject
