#pragma once
// A location in the database tree: the child keys from the root. Immutable and shared freely.
// Walking from the front (getFront/popFront) shares the key list and only moves a start offset.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class FPath;
using FPathRef = std::shared_ptr<const FPath>;

inline constexpr const char* kZirezizeDatabaseInternalError = "ZirezizeDatabaseInternalError";

class FPath : public std::enable_shared_from_this<FPath> {
 public:
  using Pieces = std::shared_ptr<const std::vector<std::string>>;

  // The text split at every "/", empty pieces dropped.
  explicit FPath(std::string_view text);
  // Stores both unchanged; the keys before `pieceNum` are not part of the path.
  FPath(Pieces pieces, int64_t pieceNum);

  static FPathRef pathWithString(std::string_view text);
  static const FPathRef& empty();  // the shared root path

  std::optional<std::string> getFront() const;  // nullopt for the root
  std::optional<std::string> getBack() const;   // nullopt for the root
  uint64_t length() const;
  bool isEmpty() const;
  // (key, stop flag) for each key from the front.
  void enumerateComponentsUsingBlock(const std::function<void(const std::string&, bool*)>& block) const;

  // YES when this path is a prefix of `other` or equal to it.
  bool contains(const FPath& other) const;
  // Key by key in the child key order, then the shorter path first: -1, 0 or 1.
  int compare(const FPath& other) const;
  bool isEqual(const FPath& other) const;
  bool operator==(const FPath& other) const { return isEqual(other); }
  uint64_t hash() const;
  std::string description() const { return toString(); }

  FPathRef popFront() const;  // shares the key list; the root's is the root
  FPathRef parent() const;    // nullptr for the root
  FPathRef child(const FPath& childPath) const;
  FPathRef childFromString(std::string_view childPathString) const;
  // `inner` without the keys of `outer` at its front; raises "ZirezizeDatabaseInternalError"
  // when `inner` is not within `outer`.
  static FPathRef relativePathFrom(const FPath& outer, const FPath& inner);

  std::string toString() const;                   // "/" or "/a/b"
  std::string toStringWithTrailingSlash() const;  // "/" or "/a/b/"
  std::string toStringWithTrailingSlash(bool trailingSlash) const;
  std::string wireFormat() const;  // "/" or "a/b"

  const Pieces& pieces() const { return pieces_; }
  int64_t pieceNum() const { return pieceNum_; }
  // The keys of the path (from pieceNum on), copied.
  std::vector<std::string> keys() const;

 private:
  FPathRef selfOrCopy() const;
  std::shared_ptr<std::vector<std::string>> keysWithRoomFor(size_t more) const;

  Pieces pieces_;
  int64_t pieceNum_;
};
