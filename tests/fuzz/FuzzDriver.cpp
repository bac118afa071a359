// The driver that `make test` links fuzz targets with: it feeds every file of the folders named on
// the command line to the target once, in name order, so a run is deterministic and a seed that once
// crashed keeps being checked. A folder that is missing or holds no seed is an error, so that a
// target can never pass by testing nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR...\n", argv[0]);
    return 2;
  }
  size_t total = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    std::vector<std::filesystem::path> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(argv[i], ec)) {
      if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') seeds.push_back(entry.path());
    }
    if (ec || seeds.empty()) {
      std::fprintf(stderr, "%s: no seeds in %s%s%s\n", argv[0], argv[i], ec ? ": " : "",
                   ec ? ec.message().c_str() : "");
      return 2;
    }
    std::sort(seeds.begin(), seeds.end());
    for (const auto& seed : seeds) {
      std::ifstream in(seed, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::fprintf(stderr, "seed %s (%zu bytes)\n", seed.filename().c_str(), bytes.size());
      // An empty vector's data() may be null; libFuzzer never passes null, so neither do we.
      static const uint8_t kEmpty = 0;
      LLVMFuzzerTestOneInput(bytes.empty() ? &kEmpty : bytes.data(), bytes.size());
      ++total;
    }
  }
  std::fprintf(stderr, "%zu seeds ran\n", total);
  return 0;
}
