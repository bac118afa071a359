#pragma once
// Where an operation came from: the user, the server, or the server for one tagged query.
#include <memory>
#include <string>

#include "sdk/database/core/FQueryParams.h"

class FOperationSource;
using FOperationSourceRef = std::shared_ptr<const FOperationSource>;

class FOperationSource {
 public:
  FOperationSource(bool fromUser, bool fromServer, FQueryParamsRef queryParams, bool tagged);
  static const FOperationSourceRef& userInstance();
  static const FOperationSourceRef& serverInstance();
  // A new source on each call.
  static FOperationSourceRef forServerTaggedQuery(const FQueryParamsRef& params);

  bool fromUser() const { return fromUser_; }
  bool fromServer() const { return fromServer_; }
  bool isTagged() const { return isTagged_; }
  const FQueryParamsRef& queryParams() const { return queryParams_; }
  std::string description() const;

 private:
  bool fromUser_;
  bool fromServer_;
  bool isTagged_;
  FQueryParamsRef queryParams_;
};
