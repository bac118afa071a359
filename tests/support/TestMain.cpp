// The main of every test program: each test gets a fresh, empty application home (and so its own
// keychain, user defaults and files), whether the runner starts one process per test or runs the
// whole program in one; the program reaches the shared audio server only when it is marked for it.
#include <gtest/gtest.h>

#include "tests/support/AudioServerAccess.h"
#include "tests/support/TestHome.h"

namespace {
class FreshHomePerTest : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { testsupport::startTestInFreshHome(); }
};
}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const std::string home = testsupport::useFreshApplicationHome();
  testsupport::isolateFromSharedAudioServer(home);
  testing::UnitTest::GetInstance()->listeners().Append(new FreshHomePerTest);
  return RUN_ALL_TESTS();
}
