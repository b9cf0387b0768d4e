// Replays inputs through a fuzz target without libFuzzer: every file named, and every file in the
// folders named (recursively). Fails when an input takes a second or more, so that a slow input
// found once stays a failing test in the ordinary build.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file, int* count) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto start = std::chrono::steady_clock::now();
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ++*count;
  if (seconds >= 1.0) {
    std::fprintf(stderr, "%s: %.2f s, slower than the bound of 1 s\n", file.c_str(), seconds);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool ok = true;
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg, ec))
        if (entry.is_regular_file() && entry.path().filename() != "README.md") ok = Replay(entry.path(), &count) && ok;
    } else if (std::filesystem::is_regular_file(arg, ec)) {
      ok = Replay(arg, &count) && ok;
    } else {
      std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
      ok = false;
    }
  }
  std::printf("replayed %d inputs\n", count);
  return ok && count > 0 ? 0 : 1;
}
