#pragma once
// What the sync tree hands the listen provider with each listen it sends: the view the listen
// serves (whose server cache gives the hashes the server compares) and the completion that turns
// the server's answer into events. Lives as long as the connection keeps the listen; used on the
// work queue.
#include <functional>
#include <string>

#include "sdk/database/core/FOperation.h"
#include "sdk/database/core/FSyncTreeHash.h"
#include "sdk/database/core/FView.h"

class FListenContainer : public FSyncTreeHash {
 public:
  using Completion = FListenProvider::Completion;
  // `agreesWithViewsBelow` (none: always) answers, when the listen is sent, whether the views under
  // the listen hold nothing but what the view's server cache holds.
  FListenContainer(FViewRef view, Completion onComplete, std::function<bool()> agreesWithViewsBelow = nullptr);

  const FViewRef& view() const { return view_; }
  const Completion& onComplete() const { return onComplete_; }
  FNodeRef serverCache() const { return view_->serverCache(); }

  std::string simpleHash() const override;
  FCompoundHashRef compoundHash() const override;
  // YES when the server cache's estimated serialised size is above 1024 bytes.
  bool includeCompoundHash() const override;
  bool describesDataBelow() const override;

 private:
  FViewRef view_;
  Completion onComplete_;
  std::function<bool()> agreesWithViewsBelow_;
};
