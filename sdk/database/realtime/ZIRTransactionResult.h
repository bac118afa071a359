#pragma once
// What a transaction's update block answers: commit this value, or abort. Immutable.
#include <memory>

#include "sdk/database/realtime/ZIRMutableData.h"

class ZIRTransactionResult;
using ZIRTransactionResultRef = std::shared_ptr<const ZIRTransactionResult>;

class ZIRTransactionResult {
 public:
  // successWithValue:
  static ZIRTransactionResultRef successWithValue(ZIRMutableDataRef value) {
    return std::make_shared<const ZIRTransactionResult>(true, std::move(value));
  }
  static ZIRTransactionResultRef abort() { return std::make_shared<const ZIRTransactionResult>(false, nullptr); }

  ZIRTransactionResult(bool success, ZIRMutableDataRef update) : success_(success), update_(std::move(update)) {}

  bool isSuccess() const { return success_; }
  // The mutable data of a commit (null for an abort).
  const ZIRMutableDataRef& update() const { return update_; }

 private:
  bool success_;
  ZIRMutableDataRef update_;
};
