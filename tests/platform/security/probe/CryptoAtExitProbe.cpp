// A program of its own for the crypto tests (CryptoTests.cpp): it links nothing that starts the
// crypto library before the security layer does. A worker draws random bytes and is still at work
// when the process exits, as a dispatch queue's worker may be; an exit handler, registered before
// the library is first used and so run after any exit handler the library registers, lets the
// worker draw once more and end. Exit status 0: the library was still there for it; 3: its state
// had already been freed (using it then would touch freed memory and locks); 4: the draw failed.
#include <openssl/crypto.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/security/Crypto.h"

namespace {

std::mutex gMutex;
std::condition_variable gWake;
bool gDrawn = false;
bool gExiting = false;
std::thread* gWorker = nullptr;

void finishTheWorker() {
  // The library answers 0 here once its exit clean-up has run.
  if (OPENSSL_init_crypto(0, nullptr) != 1) std::_Exit(3);
  {
    std::lock_guard<std::mutex> lock(gMutex);
    gExiting = true;
  }
  gWake.notify_all();
  gWorker->join();
}

}  // namespace

int main() {
  std::atexit(finishTheWorker);
  gWorker = new std::thread([] {
    security::randomBytes(16);
    std::unique_lock<std::mutex> lock(gMutex);
    gDrawn = true;
    gWake.notify_all();
    gWake.wait(lock, [] { return gExiting; });
    if (security::randomBytes(16).size() != 16) std::_Exit(4);
  });
  std::unique_lock<std::mutex> lock(gMutex);
  gWake.wait(lock, [] { return gDrawn; });
  return 0;
}
