#pragma once
// One running transaction of a repository: the user's update block and completion, where it
// stands (the states below), how often it has been sent, and the values and write of its latest
// run. Kept in the repository's transaction tree, on the work queue only; nothing of it is
// persisted.
//
// States: 0 initializing, 1 run (applied locally, waiting to be sent), 2 sent, 3 completed
// (committed or aborted; removed at the next prune), 4 sent and to be aborted once answered,
// 5 to be aborted at the next rerun.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NSError.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/realtime/ZIRDataSnapshot.h"
#include "sdk/database/realtime/ZIRTransactionResult.h"
#include "sdk/database/snapshot/FNode.h"

enum FTransactionStatus : int64_t {
  FTransactionInitializing = 0,
  FTransactionRun = 1,
  FTransactionSent = 2,
  FTransactionCompleted = 3,
  FTransactionSentNeedsAbort = 4,
  FTransactionNeedsAbort = 5,
};

using ZIRTransactionUpdateBlock = std::function<ZIRTransactionResultRef(const ZIRMutableDataRef& currentData)>;
using ZIRTransactionCompletionBlock =
    std::function<void(const NSErrorRef& error, bool committed, const ZIRDataSnapshotRef& snapshot)>;

class FTupleTransaction {
 public:
  std::optional<std::string> abortStatus;
  std::optional<std::string> abortReason;
  FPathRef path;
  ZIRTransactionUpdateBlock update;
  ZIRTransactionCompletionBlock onComplete;
  int64_t status = FTransactionInitializing;
  uint64_t order = 0;
  bool applyLocally = true;
  int32_t retryCount = 0;
  std::function<void()> unwatcher;
  std::optional<int64_t> currentWriteId;
  FNodeRef currentInputSnapshot;
  FNodeRef currentOutputSnapshotRaw;
  FNodeRef currentOutputSnapshotResolved;

  void setAbortStatus(std::optional<std::string> status, std::optional<std::string> reason) {
    abortStatus = std::move(status);
    abortReason = std::move(reason);
  }
  // The error for the abort status and reason; none when not aborted or aborted by the user.
  NSErrorRef abortError() const {
    return abortStatus ? FUtilities::errorForStatus(*abortStatus, abortReason) : nullptr;
  }
};

using FTupleTransactionRef = std::shared_ptr<FTupleTransaction>;
