#include "sdk/database/core/FCompleteChildSource.h"

const std::shared_ptr<const FNoCompleteChildSource>& FNoCompleteChildSource::instance() {
  static const std::shared_ptr<const FNoCompleteChildSource>& shared =
      *new std::shared_ptr<const FNoCompleteChildSource>(std::make_shared<const FNoCompleteChildSource>());
  return shared;
}
