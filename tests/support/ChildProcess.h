#pragma once
// Runs this test program again as a child process, for tests that need a second process (a
// restart that opens the same application home). The child runs one test, chosen by a gtest
// filter (disabled tests included), with extra environment variables; its output is collected.
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct ChildResult {
  int exitCode = -1;  // the child's exit status; -1 when it could not run or was killed
  std::string output;  // standard output and standard error together
};

// Waits for the child, at most `timeoutSeconds` of real time (then it is killed).
ChildResult runTestInChildProcess(const std::string& testName,
                                  const std::vector<std::pair<std::string, std::string>>& environment,
                                  double timeoutSeconds = 120);

// The environment variable under which a parent hands its application home to the child.
inline constexpr const char* kSharedHomeVariable = "SA_TEST_SHARED_HOME";
// In a child started by runTestInChildProcess: points the application home at the parent's one
// and answers true; elsewhere answers false.
bool adoptSharedApplicationHome();

}  // namespace testsupport
