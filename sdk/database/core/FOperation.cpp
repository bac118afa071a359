#include "sdk/database/core/FOperation.h"

#include "platform/foundation/NSString.h"
#include "sdk/database/snapshot/FChildrenNode.h"

FOperationSource::FOperationSource(bool fromUser, bool fromServer, FQueryParamsRef queryParams, bool tagged)
    : fromUser_(fromUser), fromServer_(fromServer), isTagged_(tagged), queryParams_(std::move(queryParams)) {}

const FOperationSourceRef& FOperationSource::userInstance() {
  static const FOperationSourceRef& instance =
      *new FOperationSourceRef(std::make_shared<const FOperationSource>(true, false, nullptr, false));
  return instance;
}

const FOperationSourceRef& FOperationSource::serverInstance() {
  static const FOperationSourceRef& instance =
      *new FOperationSourceRef(std::make_shared<const FOperationSource>(false, true, nullptr, false));
  return instance;
}

FOperationSourceRef FOperationSource::forServerTaggedQuery(const FQueryParamsRef& params) {
  return std::make_shared<const FOperationSource>(false, true, params, true);
}

std::string FOperationSource::description() const {
  return ns::format("FOperationSource { fromUser=%d, fromServer=%d, queryId=%s, tagged=%d }", fromUser_ ? 1 : 0,
                    fromServer_ ? 1 : 0, queryParams_ ? queryParams_->description().c_str() : "(null)",
                    isTagged_ ? 1 : 0);
}

FOverwrite::FOverwrite(FOperationSourceRef source, FPathRef path, FNodeRef snap)
    : source_(std::move(source)), path_(std::move(path)), snap_(std::move(snap)) {}

FOperationRef FOverwrite::operationForChild(const std::string& childKey) const {
  if (path_->isEmpty()) {
    return makeOperation<FOverwrite>(source_, FPath::empty(), snap_->getImmediateChild(childKey));
  }
  return makeOperation<FOverwrite>(source_, path_->popFront(), snap_);
}

std::string FOverwrite::description() const {
  return "FOverwrite { path=" + path_->toString() + ", source=" + source_->description() +
         ", snapshot=" + snap_->description() + " }";
}

FMerge::FMerge(FOperationSourceRef source, FPathRef path, FCompoundWriteRef children)
    : source_(std::move(source)), path_(std::move(path)), children_(std::move(children)) {}

FOperationRef FMerge::operationForChild(const std::string& childKey) const {
  if (!path_->isEmpty()) return makeOperation<FMerge>(source_, path_->popFront(), children_);
  FCompoundWriteRef childTree = children_->childCompoundWriteAtPath(FPath::pathWithString(childKey));
  if (childTree->isEmpty()) return nullptr;
  if (FNodeRef root = childTree->rootWrite()) {
    return makeOperation<FOverwrite>(source_, FPath::empty(), root);
  }
  return makeOperation<FMerge>(source_, FPath::empty(), childTree);
}

std::string FMerge::description() const {
  return "FMerge { path=" + path_->toString() + ", soruce=" + source_->description() +
         " children=" + children_->description() + "}";
}

FAckUserWrite::FAckUserWrite(FPathRef path, FAffectedTreeRef affectedTree, bool revert)
    : path_(std::move(path)), affectedTree_(std::move(affectedTree)), revert_(revert) {}

FOperationRef FAckUserWrite::operationForChild(const std::string& childKey) const {
  if (!path_->isEmpty()) return makeOperation<FAckUserWrite>(path_->popFront(), affectedTree_, revert_);
  if (affectedTree_->value()) return shared_from_this();
  FAffectedTreeRef childTree = affectedTree_->subtreeAtPath(*FPath::pathWithString(childKey));
  return makeOperation<FAckUserWrite>(FPath::empty(), childTree, revert_);
}

std::string FAckUserWrite::description() const {
  return ns::format("FAckUserWrite { path=%s, revert=%d, affectedTree=%s }", path_->toString().c_str(),
                    revert_ ? 1 : 0, affectedTree_->description().c_str());
}

FListenComplete::FListenComplete(FOperationSourceRef source, FPathRef path)
    : source_(std::move(source)), path_(std::move(path)) {}

FOperationRef FListenComplete::operationForChild(const std::string&) const {
  if (path_->isEmpty()) return makeOperation<FListenComplete>(source_, FPath::empty());
  return makeOperation<FListenComplete>(source_, path_->popFront());
}

std::string FListenComplete::description() const {
  return "FListenComplete { path=" + path_->toString() + ", source=" + source_->description() + " }";
}
