#pragma once
#include <string>

namespace testsupport {

// Points SPECTRUM_ANALYSER_HOME at a new empty folder under the temporary directory (and
// removes it at exit). Called by the test main before any test runs; tests may call it again
// for a second fresh home.
std::string useFreshApplicationHome();

}  // namespace testsupport
