// Runs a fuzz target without libFuzzer, so that an ordinary build with any compiler links
// every target and a test can run each: every file named on the command line (folders are
// walked, in name order) goes through the target whole and in a fixed set of damaged
// variants - cut short at a quarter, a half and three quarters and one byte before its end,
// and with bytes overwritten at spread positions. QOR_FUZZ_SEED picks the positions and
// values (1 unless set), so a run can be repeated. A crash or an escaping exception ends the
// run like a finding of the real fuzzer; a clean run prints how many inputs it took.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

constexpr int overwrittenVariants = 8;

std::vector<fs::path> inputFiles(int argc, char** argv)
{
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path named(argv[i]);
        if (!fs::is_directory(named)) {
            files.push_back(named);
            continue;
        }
        std::vector<fs::path> inside;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(named))
            if (entry.is_regular_file())
                inside.push_back(entry.path());
        std::sort(inside.begin(), inside.end());
        files.insert(files.end(), inside.begin(), inside.end());
    }
    return files;
}

bool readBytes(const fs::path& path, std::vector<std::uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

void run(const std::vector<std::uint8_t>& bytes, std::size_t size)
{
    // A copy of exactly size bytes, so that reading past the end shows under a checker.
    const std::vector<std::uint8_t> input(bytes.begin(), bytes.begin() + std::ptrdiff_t(size));
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<fs::path> files = inputFiles(argc, argv);
    if (files.empty()) {
        std::fprintf(stderr, "Aufruf: %s DATEI|ORDNER...\n", argv[0]);
        return 2;
    }
    const char* seedText = std::getenv("QOR_FUZZ_SEED");
    std::mt19937 gen(seedText ? unsigned(std::strtoul(seedText, nullptr, 10)) : 1u);
    long runs = 0;
    for (const fs::path& file : files) {
        std::vector<std::uint8_t> bytes;
        if (!readBytes(file, bytes)) {
            std::fprintf(stderr, "%s: nicht lesbar\n", file.c_str());
            return 1;
        }
        const std::size_t n = bytes.size();
        for (const std::size_t size : {n, n / 4, n / 2, 3 * n / 4, n == 0 ? 0 : n - 1}) {
            run(bytes, size);
            ++runs;
        }
        if (n == 0)
            continue;
        for (int variant = 0; variant < overwrittenVariants; ++variant) {
            std::vector<std::uint8_t> damaged = bytes;
            for (int k = 0; k <= variant % 4; ++k)
                damaged[gen() % n] = std::uint8_t(gen());
            run(damaged, n);
            ++runs;
        }
    }
    std::printf("%zu Dateien, %ld Eingaben\n", files.size(), runs);
    return 0;
}
