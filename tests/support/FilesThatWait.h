#pragma once
// Files that hold a careless reader for good: a FIFO that nobody writes to (opening it waits for a
// writer), and standard input swapped, for a scope, for a pipe whose writer stays open (reading
// /dev/stdin waits for input that never comes). A test that meets them without waiting simply
// ends; one that waits hangs until ctest's time-out fails it.
#include <string>

namespace testsupport {

// Makes a FIFO at the path (mode 0600); false when it cannot.
bool makeFifo(const std::string& path);

class StdinThatNeverEnds {
 public:
  StdinThatNeverEnds();
  ~StdinThatNeverEnds();  // puts the process's standard input back
  StdinThatNeverEnds(const StdinThatNeverEnds&) = delete;
  StdinThatNeverEnds& operator=(const StdinThatNeverEnds&) = delete;
  bool ok() const { return saved_ >= 0; }

 private:
  int saved_ = -1, writer_ = -1;
};

}  // namespace testsupport
