#pragma once
// A path and the value found there (the answer of the immutable tree's root-most search).
#include "sdk/database/core/FPath.h"

template <typename T>
struct FTuplePathValue {
  FPathRef path;
  T value;
};
