// Runs a fuzz target once on each input file, without libFuzzer: the
// arguments are files and folders of files (options starting with "-" are
// ignored, so that libFuzzer's command lines work too). A broken property
// aborts; otherwise prints how many inputs ran.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;

// Passes the file in a block of exactly its size, as libFuzzer does.
void RunFile(const fs::path& path) {
  const auto size = static_cast<size_t>(fs::file_size(path));
  std::unique_ptr<uint8_t[]> input(new uint8_t[size]);
  std::ifstream(path, std::ios::binary)
      .read(reinterpret_cast<char*>(input.get()), static_cast<std::streamsize>(size));
  LLVMFuzzerTestOneInput(input.get(), size);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') continue;
    if (fs::is_directory(argv[i])) {
      for (const fs::directory_entry& entry : fs::directory_iterator(argv[i])) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else {
      files.emplace_back(argv[i]);
    }
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& path : files) RunFile(path);
  std::printf("replayed %zu inputs\n", files.size());
  return files.empty() ? 1 : 0;
}
