// FolderSize over a host folder of 10,000 files in 500 folders on the simulated Windows, against
// a plain std::filesystem walk of the same Linux files behind it: the cost of the Win32-style
// search on top of the directory reads that any walk needs.
#include "base/PathTools.h"
#include "os/sim/Sim.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

const std::string kHostFolder = "C:\\Program Files\\Zelm\\";
constexpr int kTopFolders = 20;
constexpr int kSubfoldersEach = 24; // 20 + 20 * 24 = 500 folders, the host folder not counted
constexpr int kFilesPerFolder = 20; // 500 * 20 = 10,000 files

// Sizes spread from 0 to 4 KiB, so the total does not come out a round number by chance.
std::size_t FileSize(int index) {
    return static_cast<std::size_t>(index * 397 % 4096);
}

void PutFilesInto(const std::string& folder, int& fileIndex, std::uint64_t& totalBytes) {
    for (int i = 0; i < kFilesPerFolder; ++i, ++fileIndex) {
        const std::size_t size = FileSize(fileIndex);
        os::sim::PutFile(folder + "sound" + std::to_string(i) + ".wav", std::string(size, 'w'));
        totalBytes += size;
    }
}

// Builds the tree once per benchmark run; every benchmark below reads the same one.
std::int32_t ExpectedKiB() {
    static const std::int32_t kib = [] {
        os::sim::Reset();
        int fileIndex = 0;
        std::uint64_t totalBytes = 0;
        for (int top = 0; top < kTopFolders; ++top) {
            const std::string topFolder = kHostFolder + "pack" + std::to_string(top) + "\\";
            PutFilesInto(topFolder, fileIndex, totalBytes);
            for (int sub = 1; sub < kSubfoldersEach + 1; ++sub) {
                PutFilesInto(topFolder + "set" + std::to_string(sub) + "\\", fileIndex, totalBytes);
            }
        }
        return static_cast<std::int32_t>(totalBytes / 1024);
    }();
    return kib;
}

void FolderSizeOf10000Files(benchmark::State& state) {
    const std::int32_t expected = ExpectedKiB();
    for (auto _ : state) {
        const std::int32_t kib = FolderSize(kHostFolder);
        if (kib != expected) {
            state.SkipWithError("FolderSize gave a wrong total");
            break;
        }
    }
    state.counters["files"] =
        benchmark::Counter(kTopFolders * (kSubfoldersEach + 1) * kFilesPerFolder,
                           benchmark::Counter::kIsIterationInvariantRate);
}

void PlainWalkOf10000Files(benchmark::State& state) {
    const std::int32_t expected = ExpectedKiB();
    const std::filesystem::path root = os::sim::HostPath(kHostFolder);
    for (auto _ : state) {
        std::uint64_t bytes = 0;
        std::error_code error;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root, error)) {
            if (entry.is_regular_file(error)) {
                bytes += entry.file_size(error);
            }
        }
        if (error || static_cast<std::int32_t>(bytes / 1024) != expected) {
            state.SkipWithError("the plain walk gave a wrong total");
            break;
        }
    }
    state.counters["files"] =
        benchmark::Counter(kTopFolders * (kSubfoldersEach + 1) * kFilesPerFolder,
                           benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

BENCHMARK(FolderSizeOf10000Files)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainWalkOf10000Files)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
