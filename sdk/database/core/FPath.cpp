#include "sdk/database/core/FPath.h"

#include <algorithm>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FNodeAllocator.h"
#include "sdk/database/core/FUtilities.h"

namespace {

void appendPieces(std::vector<std::string>& out, std::string_view text) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t slash = text.find('/', start);
    if (slash == std::string_view::npos) slash = text.size();
    if (slash > start) out.emplace_back(text.substr(start, slash - start));
    start = slash + 1;
  }
}

FPath::Pieces piecesFromText(std::string_view text) {
  auto pieces = std::make_shared<std::vector<std::string>>();
  appendPieces(*pieces, text);
  return pieces;
}

}  // namespace

FPath::FPath(std::string_view text) : pieces_(piecesFromText(text)), pieceNum_(0) {}

FPath::FPath(Pieces pieces, int64_t pieceNum)
    : pieces_(pieces ? std::move(pieces) : std::make_shared<const std::vector<std::string>>()),
      pieceNum_(pieceNum < 0 ? 0 : pieceNum) {}

FPathRef FPath::pathWithString(std::string_view text) { return std::make_shared<const FPath>(text); }

const FPathRef& FPath::empty() {
  static const FPathRef& instance = *new FPathRef(std::make_shared<const FPath>(""));
  return instance;
}

std::optional<std::string> FPath::getFront() const {
  if (isEmpty()) return std::nullopt;
  return (*pieces_)[static_cast<size_t>(pieceNum_)];
}

std::optional<std::string> FPath::getBack() const {
  if (isEmpty()) return std::nullopt;
  return pieces_->back();
}

uint64_t FPath::length() const {
  auto n = static_cast<int64_t>(pieces_->size());
  return pieceNum_ >= n ? 0 : static_cast<uint64_t>(n - pieceNum_);
}

bool FPath::isEmpty() const { return pieceNum_ >= static_cast<int64_t>(pieces_->size()); }

void FPath::enumerateComponentsUsingBlock(
    const std::function<void(const std::string&, bool*)>& block) const {
  bool stop = false;
  for (size_t i = static_cast<size_t>(pieceNum_); i < pieces_->size(); ++i) {
    block((*pieces_)[i], &stop);
    if (stop) return;
  }
}

bool FPath::contains(const FPath& other) const {
  if (length() > other.length()) return false;
  size_t i = static_cast<size_t>(pieceNum_);
  size_t j = static_cast<size_t>(other.pieceNum_);
  for (; i < pieces_->size(); ++i, ++j) {
    if ((*pieces_)[i] != (*other.pieces_)[j]) return false;
  }
  return true;
}

int FPath::compare(const FPath& other) const {
  size_t i = static_cast<size_t>(pieceNum_);
  size_t j = static_cast<size_t>(other.pieceNum_);
  while (i < pieces_->size() && j < other.pieces_->size()) {
    int r = FUtilities::compareKey((*pieces_)[i], (*other.pieces_)[j]);
    if (r != 0) return r;
    ++i;
    ++j;
  }
  uint64_t a = length();
  uint64_t b = other.length();
  if (a == b) return 0;
  return a < b ? -1 : 1;
}

bool FPath::isEqual(const FPath& other) const {
  if (this == &other) return true;
  if (length() != other.length()) return false;
  size_t i = static_cast<size_t>(pieceNum_);
  size_t j = static_cast<size_t>(other.pieceNum_);
  for (; i < pieces_->size(); ++i, ++j) {
    if ((*pieces_)[i] != (*other.pieces_)[j]) return false;
  }
  return true;
}

uint64_t FPath::hash() const {
  uint64_t h = 0;
  for (size_t i = static_cast<size_t>(pieceNum_); i < pieces_->size(); ++i) {
    h = 37 * h + static_cast<uint64_t>(std::hash<std::string>()((*pieces_)[i]));
  }
  return h;
}

FPathRef FPath::selfOrCopy() const {
  if (auto self = weak_from_this().lock()) return self;
  return std::make_shared<const FPath>(pieces_, pieceNum_);
}

FPathRef FPath::popFront() const {
  if (isEmpty()) return selfOrCopy();
  // A path of one key leaves the root, which is shared: nothing to make.
  if (length() == 1) return empty();
  // From the node allocator: a change walking the sync tree drops a path per level it goes down.
  return std::allocate_shared<const FPath>(FNodeAllocator<FPath>(), pieces_, pieceNum_ + 1);
}

FPathRef FPath::parent() const {
  if (isEmpty()) return nullptr;
  auto pieces = std::make_shared<std::vector<std::string>>(pieces_->begin() + pieceNum_,
                                                           pieces_->end() - 1);
  return std::make_shared<const FPath>(std::move(pieces), 0);
}

std::vector<std::string> FPath::keys() const {
  if (isEmpty()) return {};
  return std::vector<std::string>(pieces_->begin() + pieceNum_, pieces_->end());
}

// A new list of this path's keys with room for `more` after them: the keys are copied once into
// storage of the final size, not grown past it.
std::shared_ptr<std::vector<std::string>> FPath::keysWithRoomFor(size_t more) const {
  auto pieces = std::make_shared<std::vector<std::string>>();
  pieces->reserve(length() + more);
  if (!isEmpty()) pieces->insert(pieces->end(), pieces_->begin() + pieceNum_, pieces_->end());
  return pieces;
}

FPathRef FPath::child(const FPath& childPath) const {
  auto pieces = keysWithRoomFor(static_cast<size_t>(childPath.length()));
  for (size_t i = static_cast<size_t>(childPath.pieceNum_); i < childPath.pieces_->size(); ++i) {
    pieces->push_back((*childPath.pieces_)[i]);
  }
  return std::make_shared<const FPath>(std::move(pieces), 0);
}

FPathRef FPath::childFromString(std::string_view childPathString) const {
  const auto slashes = static_cast<size_t>(std::count(childPathString.begin(), childPathString.end(), '/'));
  auto pieces = keysWithRoomFor(slashes + 1);
  appendPieces(*pieces, childPathString);
  return std::make_shared<const FPath>(std::move(pieces), 0);
}

FPathRef FPath::relativePathFrom(const FPath& outer, const FPath& inner) {
  size_t i = static_cast<size_t>(outer.pieceNum_);
  size_t j = static_cast<size_t>(inner.pieceNum_);
  for (; i < outer.pieces_->size(); ++i, ++j) {
    if (j >= inner.pieces_->size() || (*outer.pieces_)[i] != (*inner.pieces_)[j]) {
      NSException::raise(kZirezizeDatabaseInternalError, "innerPath (%s) is not within outerPath (%s)",
                         inner.toString().c_str(), outer.toString().c_str());
    }
  }
  return std::make_shared<const FPath>(inner.pieces_, static_cast<int64_t>(j));
}

std::string FPath::toString() const { return toStringWithTrailingSlash(false); }

std::string FPath::toStringWithTrailingSlash() const { return toStringWithTrailingSlash(true); }

std::string FPath::toStringWithTrailingSlash(bool trailingSlash) const {
  if (isEmpty()) return "/";
  std::string out;
  for (size_t i = static_cast<size_t>(pieceNum_); i < pieces_->size(); ++i) {
    out += "/";
    out += (*pieces_)[i];
  }
  if (trailingSlash) out += "/";
  return out;
}

std::string FPath::wireFormat() const {
  if (isEmpty()) return "/";
  std::string out;
  for (size_t i = static_cast<size_t>(pieceNum_); i < pieces_->size(); ++i) {
    if (!out.empty() || i > static_cast<size_t>(pieceNum_)) out += "/";
    out += (*pieces_)[i];
  }
  return out;
}
