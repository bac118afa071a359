#include "tests/support/serverwaits/MainThreadServerWaits.h"

#include <dlfcn.h>
#include <pulse/thread-mainloop.h>

#include <atomic>

#include "platform/audio/PulseAudioConnection.h"
#include "platform/foundation/NSRunLoop.h"

namespace {
std::atomic<uint64_t> gLoopWaits{0};
}  // namespace

uint64_t testsupport::mainThreadServerWaits() { return pulse::mainThreadWaits() + gLoopWaits.load(); }

// The program's own definition comes before the library's: every call of the program's code
// lands here, and goes on to the library.
extern "C" void pa_threaded_mainloop_wait(pa_threaded_mainloop* mainloop) {
  using Wait = void (*)(pa_threaded_mainloop*);
  static const Wait library = reinterpret_cast<Wait>(dlsym(RTLD_NEXT, "pa_threaded_mainloop_wait"));
  if (NSRunLoop::isMainThread()) gLoopWaits.fetch_add(1);
  library(mainloop);
}
