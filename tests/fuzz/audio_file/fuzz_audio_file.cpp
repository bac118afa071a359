// Any bytes as an audio file played through the file input: opened with libsndfile, converted to
// mono 44,100 Hz float and read for a few deliveries (looping at the end as the capture does).
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/audio/FileAudioInput.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzzsupport::privateHome() + "/input";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return 0;
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  ::close(fd);
  OSStatus status = noErr;
  auto input = FileAudioInput::create(path, &status);
  if (!input) {
    if (status == noErr) __builtin_trap();  // a refusal always has a reason
    return 0;
  }
  // About 0.4 s of audio: enough to reach the end of (and loop) any small file.
  std::vector<float> samples(4096);
  for (int i = 0; i < 4; ++i) {
    const uint32_t got = input->readSamples(samples.data(), uint32_t(samples.size()));
    if (got > samples.size()) __builtin_trap();
  }
  return 0;
}
