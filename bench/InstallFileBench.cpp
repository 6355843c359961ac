// Installing the sound bank (one copy, one write, flush, rename over the target) against the
// plain create-write-close of the same bytes, both on the simulated Windows's real files.
#include "install/InstallTestBank.h"
#include "install/SetupRim.h"

#include "os/sim/Sim.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace {

const std::string kTarget = "C:\\Program Files\\Zelm\\zorv.3bs";

void PrepareMachine() {
    os::sim::Reset();
    os::sim::AddResource("3BS", "ZORV", InstallTestBank());
    os::sim::PutFile(kTarget, "an older bank");
}

void InstallFileOfBank(benchmark::State& state) {
    PrepareMachine();
    for (auto _ : state) {
        InstallFile("zorv", "3bs", kTarget);
    }
    if (!os::sim::Boxes().empty()) {
        state.SkipWithError("installation failed");
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(InstallTestBank().size()));
}

void PlainWriteOfBank(benchmark::State& state) {
    PrepareMachine();
    const std::string& bank = InstallTestBank();
    const auto size = static_cast<os::DWORD>(bank.size());
    for (auto _ : state) {
        const os::HANDLE file =
            os::CreateFileA(kTarget.c_str(), os::GENERIC_READ | os::GENERIC_WRITE, 0, nullptr,
                            os::CREATE_ALWAYS, os::FILE_ATTRIBUTE_NORMAL, nullptr);
        os::DWORD written = 0;
        if (os::WriteFile(file, bank.data(), size, &written, nullptr) == 0 || written != size) {
            state.SkipWithError("write failed");
            os::CloseHandle(file);
            break;
        }
        os::CloseHandle(file);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bank.size()));
}

} // namespace

BENCHMARK(InstallFileOfBank)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainWriteOfBank)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
