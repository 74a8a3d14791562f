// Runs a fuzz target once on each input file, without libFuzzer: the
// arguments are files and folders of files (options starting with "-", as
// libFuzzer takes, are skipped). A broken property aborts; otherwise prints
// how many inputs ran, and fails when there were none.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "fuzz_support.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') continue;
    if (!fs::is_directory(argv[i])) {
      files.emplace_back(argv[i]);
      continue;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(argv[i])) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& path : files) {
    // In a block of exactly the file's size, as libFuzzer passes it.
    const auto size = static_cast<size_t>(fs::file_size(path));
    const std::unique_ptr<uint8_t[]> input(new uint8_t[size]);
    std::ifstream(path, std::ios::binary)
        .read(reinterpret_cast<char*>(input.get()), static_cast<std::streamsize>(size));
    LLVMFuzzerTestOneInput(input.get(), size);
  }
  std::printf("replayed %zu inputs\n", files.size());
  return files.empty() ? 1 : 0;
}
