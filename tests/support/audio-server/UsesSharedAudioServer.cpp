// Linked into the test programs that sa_test marks AUDIO_SERVER: their tests may play into and
// record from the shared audio server of the test run (ctest runs them one at a time).
#include "tests/support/AudioServerAccess.h"

namespace {
[[maybe_unused]] const bool declared = (testsupport::declareUsesSharedAudioServer(), true);
}  // namespace
