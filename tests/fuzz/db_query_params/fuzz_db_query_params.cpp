// Query parameters in wire form, as the local cache stores them and the connection sends them:
// read with fromQueryObject, written back out and read again.
#include "platform/foundation/NSException.h"
#include "platform/foundation/Value.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FQueryParams.h"
#include "tests/fuzz/FuzzSupport.h"

using fuzzsupport::broken;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parsed = value::parseJSON(fuzzsupport::asText(data, size), true);
  if (!parsed) return 0;
  FQueryParamsRef params;
  try {
    params = FQueryParams::fromQueryObject(*parsed);
  } catch (const NSException&) {
    return 0;  // refused with a named exception: that is the contract
  }
  (void)params->description();
  (void)params->isValid();
  (void)params->isDefault();
  (void)params->hasAnchoredLimit();
  (void)params->isViewFromLeft();
  (void)params->indexStartKey();
  (void)params->indexEndKey();
  // What was read is written out, and what is written out reads back as the same parameters.
  const Value wire = params->wireProtocolParams();
  const FQueryParamsRef again = FQueryParams::fromQueryObject(wire);
  if (!again->isEqual(*params) || !params->isEqual(*again)) broken("wire form reads back equal");
  if (again->hash() != params->hash()) broken("equal parameters hash alike");
  if (again->wireProtocolParams() != wire) broken("wire form is stable");
  const FQuerySpec query(FPath::pathWithString("a/b"), params);
  const FQuerySpec sameQuery(FPath::pathWithString("/a/b/"), again);
  if (!query.isEqual(sameQuery) || query.hash() != sameQuery.hash()) broken("equal queries hash alike");
  (void)query.description();
  return 0;
}
