#pragma once
// Bounds-checked readers of binary property lists ("bplist00"). Every offset, count and
// reference is checked against the data, cycles and runaway nesting are refused, so damaged or
// hostile bytes give an error and never a crash. Containers nest at most kMaxPlistDepth deep; an
// object referenced from several places is decoded once and copied into each, and the whole
// decoded value may take at most kMaxPlistDecodedBytes (reckoned), so that a small file whose
// containers reference each other over and over cannot expand without bound (see PlistValue.h).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace ns {

std::optional<Value> readBinaryPlist(std::string_view bytes, std::string* error);

// A binary property list read one object at a time (a keyed archive's object table, whose entries
// are read as the unarchiver reaches them): opening checks the header and the trailer, and every
// object is checked when it is read, so that a damaged object fails only the reads that reach it.
// All reads count against the limits of one list read whole (nesting per read; the decoded size
// and the number of values in all); once a read passes them, every later read fails. An object
// referenced from several places is decoded once; one whose read failed fails again at once. The
// bytes must outlive the object.
class BinaryPlistObjects {
 public:
  // None (with *error) when the bytes are no binary property list or its trailer is damaged.
  static std::unique_ptr<BinaryPlistObjects> open(std::string_view bytes, std::string* error);
  ~BinaryPlistObjects();

  // The index of the list's top object.
  uint64_t top() const;
  // The object at `index` with everything it holds; none (with *error) when it or anything it
  // holds is damaged, or the limits are passed.
  std::optional<Value> object(uint64_t index, std::string* error);

  // An array (or set) or a dictionary whose references are known to lie within the data, not yet
  // followed: a dictionary's `count` keys come first, then its `count` values.
  struct Container {
    bool dictionary = false;
    uint64_t count = 0;       // items, or a dictionary's entries
    uint64_t references = 0;  // count, or twice it for a dictionary
    size_t at = 0;            // where the references start
  };
  // The container at `index` (counted as one value read); none (with *error) when the object is of
  // another kind, is damaged or the limits are passed.
  std::optional<Container> container(uint64_t index, std::string* error);
  // The object index of its reference i (below `references`), unchecked: object() checks it.
  uint64_t reference(const Container& container, uint64_t i) const;
  // Whether a read passed the limits.
  bool exhausted() const;

 private:
  struct Impl;
  explicit BinaryPlistObjects(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace ns
