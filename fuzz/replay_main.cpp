// Replays fuzzer inputs without libFuzzer: each argument is a file or a folder of files, each file
// is fed once to LLVMFuzzerTestOneInput. Used by every test build to replay the seed corpora.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int run_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return 1;
  }
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0, count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& e : std::filesystem::recursive_directory_iterator(arg))
        if (e.is_regular_file()) { failures += run_file(e.path()); ++count; }
    } else {
      failures += run_file(arg);
      ++count;
    }
  }
  std::printf("replayed %d inputs\n", count);
  return failures ? 1 : 0;
}
