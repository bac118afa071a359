#include "sdk/database/core/FWriteRecord.h"

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSString.h"

FWriteRecord::FWriteRecord(FPathRef path, FNodeRef overwrite, int64_t writeId, bool visible)
    : path_(std::move(path)), overwrite_(std::move(overwrite)), writeId_(writeId), visible_(visible) {
  if (!overwrite_) {
    NSException::raise(NSInvalidArgumentException, "Can't pass nil as overwrite parameter to an overwrite write record");
  }
}

FWriteRecord::FWriteRecord(FPathRef path, FCompoundWriteRef merge, int64_t writeId)
    : path_(std::move(path)), merge_(std::move(merge)), writeId_(writeId), visible_(true) {
  if (!merge_) {
    NSException::raise(NSInvalidArgumentException, "Can't pass nil as merge parameter to an merge write record");
  }
}

const FNodeRef& FWriteRecord::overwrite() const {
  if (!overwrite_) NSException::raise(NSInvalidArgumentException, "Can't get overwrite for merge write record!");
  return overwrite_;
}

const FCompoundWriteRef& FWriteRecord::compoundWrite() const {
  if (!merge_) NSException::raise(NSInvalidArgumentException, "Can't get merge for overwrite write record!");
  return merge_;
}

std::string FWriteRecord::description() const {
  if (overwrite_) {
    return ns::format("FWriteRecord { writeId = %lu, path = %s, overwrite = %s, visible = %d }",
                      static_cast<unsigned long>(writeId_), path_->toString().c_str(),
                      overwrite_->description().c_str(), visible_ ? 1 : 0);
  }
  return ns::format("FWriteRecord { writeId = %lu, path = %s, merge = %s }", static_cast<unsigned long>(writeId_),
                    path_->toString().c_str(), merge_->description().c_str());
}

bool FWriteRecord::isEqual(const FWriteRecord& other) const {
  if (this == &other) return true;
  auto sameNode = [](const FNodeRef& a, const FNodeRef& b) { return a == b || (a && b && a->isEqual(*b)); };
  auto sameMerge = [](const FCompoundWriteRef& a, const FCompoundWriteRef& b) {
    return a == b || (a && b && a->isEqual(*b));
  };
  return writeId_ == other.writeId_ && path_->isEqual(*other.path_) && sameNode(overwrite_, other.overwrite_) &&
         sameMerge(merge_, other.merge_) && visible_ == other.visible_;
}

uint64_t FWriteRecord::hash() const {
  uint64_t h = static_cast<uint64_t>(writeId_) * 527 + path_->hash();
  h = h * 31 + (overwrite_ ? overwrite_->hash() : 0);
  h = h * 31 + (merge_ ? merge_->hash() : 0);
  h = h * 31 + (visible_ ? 1 : 0);
  return h;
}
