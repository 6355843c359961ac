// Throughput of the self-check: SHA-256 alone and the image digest over a buffer, on each engine,
// and VerifyInstaller reading a stamped 6 MB updater from the simulated disk.
#include "install/ImageDigest.h"
#include "install/SelfCheck.h"
#include "install/Sha256.h"
#include "os/sim/Sim.h"
#include "support/StampedImage.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

constexpr std::size_t kUpdaterSize = 6'000'000;

// Runs the benchmark on one engine, then gives the fastest back to the benchmarks after it.
class OnEngine {
public:
    OnEngine(benchmark::State& state, Sha256Engine engine) : ok_(UseSha256Engine(engine)) {
        if (!ok_) {
            state.SkipWithError("this processor has no SHA extensions");
        }
    }
    OnEngine(const OnEngine&) = delete;
    OnEngine& operator=(const OnEngine&) = delete;
    ~OnEngine() { UseSha256Engine(FastestSha256Engine()); }
    explicit operator bool() const { return ok_; }

private:
    bool ok_;
};

void BM_Sha256(benchmark::State& state, Sha256Engine engine) {
    const OnEngine onEngine(state, engine);
    if (!onEngine) {
        return;
    }
    const std::vector<std::uint8_t> data(static_cast<std::size_t>(state.range(0)), 0x5A);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Sha256::Of(data.data(), data.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK_CAPTURE(BM_Sha256, portable, Sha256Engine::Portable)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK_CAPTURE(BM_Sha256, sha_extensions, Sha256Engine::ShaExtensions)
    ->Arg(64)
    ->Arg(4096)
    ->Arg(1 << 20);

void BM_DigestImage(benchmark::State& state, Sha256Engine engine) {
    const OnEngine onEngine(state, engine);
    if (!onEngine) {
        return;
    }
    const std::string image = sim_tests::MakeStampedImage(std::string(kUpdaterSize, 'B'));
    for (auto _ : state) {
        benchmark::DoNotOptimize(DigestImage(reinterpret_cast<const std::uint8_t*>(image.data()),
                                             image.size(), kStampMarker));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image.size()));
}
BENCHMARK_CAPTURE(BM_DigestImage, portable, Sha256Engine::Portable)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DigestImage, sha_extensions, Sha256Engine::ShaExtensions)
    ->Unit(benchmark::kMillisecond);

// With the engine the updater picks on this processor.
void BM_VerifyInstaller(benchmark::State& state) {
    os::sim::Reset();
    const std::string path = "C:\\Users\\user\\Downloads\\ZelmSoundUpdate.exe";
    const std::string image = sim_tests::MakeStampedImage(std::string(kUpdaterSize, 'B'));
    os::sim::PutFile(path, image);
    os::sim::SetOwnModulePath(path);
    for (auto _ : state) {
        if (!VerifyInstaller()) {
            state.SkipWithError("the stamped image did not verify");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image.size()));
}
BENCHMARK(BM_VerifyInstaller)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
