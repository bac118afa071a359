#include "sdk/database/core/FKeepSyncedEventRegistration.h"

#include "platform/foundation/NSException.h"

const std::shared_ptr<const FKeepSyncedEventRegistration>& FKeepSyncedEventRegistration::instance() {
  static const std::shared_ptr<const FKeepSyncedEventRegistration> shared =
      std::make_shared<const FKeepSyncedEventRegistration>();
  return shared;
}

FEventRef FKeepSyncedEventRegistration::createEventFrom(const FChange&, const FQuerySpecRef&) const {
  NSException::raise(NSInternalInconsistencyException, "Should never create event for FKeepSyncedEventRegistration");
}

void FKeepSyncedEventRegistration::fireEvent(const FEventRef&, const DispatchQueueRef&) const {
  NSException::raise(NSInternalInconsistencyException, "Should never raise event for FKeepSyncedEventRegistration");
}
