// Linked into the test programs that reach the process's audio session (sa_test adds it): every
// test finds the session as the first test of a process does, so that a program passes run whole
// and in any order as it does one test per process. A test may leave an input chosen, named or
// set, which the next test's capture would read; a connection to an audio server of its own that
// it killed, whose loss the connection would tell the next test as a media-services reset
// (rebuilding that test's engines), or whose sources the next test's server would be compared
// with (route changes for inputs that test never had); and news on the main queue.
#include <gtest/gtest.h>

#include "platform/audio/AVAudioSession.h"
#include "tests/support/WaitFor.h"

namespace {

class CleanAudioSessionPerTest : public testing::EmptyTestEventListener {
  // After the test and its fixture are gone, so nothing of theirs hears what this sets off.
  void OnTestEnd(const testing::TestInfo&) override {
    AVAudioSession::sharedInstance().resetForTesting();
    // The news the connection posted before it was let go of is heard now, by nobody.
    testsupport::waitFor([] { return false; }, 0);
  }
};

[[maybe_unused]] const bool registered =
    (testing::UnitTest::GetInstance()->listeners().Append(new CleanAudioSessionPerTest), true);

}  // namespace
