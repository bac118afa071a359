// The main of every test program: each test process gets a fresh, empty application home.
#include <gtest/gtest.h>

#include "tests/support/TestHome.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testsupport::useFreshApplicationHome();
  return RUN_ALL_TESTS();
}
