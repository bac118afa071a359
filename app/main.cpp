// The analyser's entry point.
#include <cstdio>

#include "platform/foundation/NSString.h"

int main(int argc, char** argv) {
  std::printf("spectrum-analyser: platform configured, nothing to run yet\n");
  return 0;
}
