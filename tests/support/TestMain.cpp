// The main of every test program: each test gets a fresh, empty application home (and so its own
// keychain, user defaults and files), whether the runner starts one process per test or runs the
// whole program in one; the program reaches the shared audio server only when it is marked for it.
#include <gtest/gtest.h>

#include "platform/security/Crypto.h"
#include "tests/support/AudioServerAccess.h"
#include "tests/support/TestHome.h"

namespace {

// The crypto library is kept for the life of the process, as the product keeps it (Crypto.h): the
// queues' workers may still be ending while a test program exits. Here the loopback server's HTTP
// library would start it first, from its load-time constructor, with the library's exit clean-up;
// an entry of the executable's pre-initialisation array runs before any library's constructor.
void keepCryptoLibraryBeforeLibraryConstructors() { security::keepCryptoLibraryForTheProcess(); }
[[gnu::used, gnu::section(".preinit_array")]] void (*keepCryptoLibrary)() =
    keepCryptoLibraryBeforeLibraryConstructors;

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
