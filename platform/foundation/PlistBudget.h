#pragma once
// How the property-list readers reckon what a decoded value takes, shared with the writers so that
// what is written is never more than a reader accepts (the limits are in PlistValue.h).
#include <cstddef>
#include <string>

#include "platform/foundation/PlistValue.h"

namespace ns {

// What one decoded value is reckoned to take besides its text or bytes (the value, its slot in a
// list or dictionary, allocation overhead). A text (a value or a dictionary key) is reckoned at its
// UTF-8 size, whichever string type or form of list holds it, so that what one reader takes every
// writer writes.
inline constexpr size_t kPlistValueCost = 64;

// Counts reckoned bytes against kMaxPlistDecodedBytes and values (an array, a dictionary, a key, a
// leaf) against kMaxPlistValues.
struct PlistBudget {
  size_t left = kMaxPlistDecodedBytes;
  size_t valuesLeft = kMaxPlistValues;
  // False (with *error) once either total passes its limit.
  bool charge(size_t bytes, std::string* error, size_t values = 1) {
    if (values > valuesLeft) {
      valuesLeft = 0;
      if (error) *error = "the property list expands to more than " + std::to_string(kMaxPlistValues) + " values";
      return false;
    }
    valuesLeft -= values;
    if (bytes > left) {
      left = 0;
      if (error) *error = "the property list expands to more than its size limit";
      return false;
    }
    left -= bytes;
    return true;
  }
};

}  // namespace ns
