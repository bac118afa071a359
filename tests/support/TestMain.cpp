// The main of every test program: each test process gets a fresh, empty application home, and
// reaches the shared audio server only when its program is marked for it.
#include <gtest/gtest.h>

#include "tests/support/AudioServerAccess.h"
#include "tests/support/TestHome.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const std::string home = testsupport::useFreshApplicationHome();
  testsupport::isolateFromSharedAudioServer(home);
  return RUN_ALL_TESTS();
}
