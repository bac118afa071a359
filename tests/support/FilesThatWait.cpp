#include "tests/support/FilesThatWait.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

bool makeFifo(const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

StdinThatNeverEnds::StdinThatNeverEnds() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return;
  saved_ = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
  if (saved_ < 0 || ::dup2(ends[0], 0) < 0) {
    if (saved_ >= 0) ::close(saved_);
    saved_ = -1;
    ::close(ends[1]);
  } else {
    writer_ = ends[1];
  }
  ::close(ends[0]);
}

StdinThatNeverEnds::~StdinThatNeverEnds() {
  if (saved_ < 0) return;
  ::dup2(saved_, 0);
  ::close(saved_);
  ::close(writer_);
}

}  // namespace testsupport
