#pragma once
#include <string>

namespace testsupport {

// Points SPECTRUM_ANALYSER_HOME at a new empty folder under the temporary directory (and
// removes it at exit). Called by the test main before any test runs; tests may call it again
// for a second fresh home.
std::string useFreshApplicationHome();

// What the test main does before every test: a fresh application home, and the process-wide
// objects that stand for files of the previous home (cached user defaults suites, injected
// keychain failures) forgotten, so that no test sees another's keychain or defaults.
void startTestInFreshHome();

}  // namespace testsupport
