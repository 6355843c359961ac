// Language texts: the section scan and each lookup kind on a 300-line file, and the start-up over
// 40 language files, all on the simulated Windows.
#include "context/ProgInfo.h"
#include "lang/LangUnit.h"
#include "os/sim/Sim.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace {

const std::string kHostFolder = "C:\\Program Files\\Zelm\\";
const std::string kLangFolder = kHostFolder + "language\\";

// 100 sections of three lines each; the last one is multi-line with a placeholder.
std::string LangFileOf300Lines(const std::string& langcode) {
    std::string text = "[langcode]\n" + langcode + "\n\n[langver]\n1\n\n[progname]\nZelm\n\n";
    for (int i = 3; i < 99; ++i) {
        text += "[key" + std::to_string(i) + "]\nThe text of key number " + std::to_string(i) +
                ", a typical sentence\n\n";
    }
    return text + "[last]\nfirst line with %1 and %2\nsecond line with %1\n";
}

void FreshMachine() {
    DoneLangUnit();
    os::sim::Reset();
    Ctx = UpdateContext();
    Ctx.ProgName = "Zelm";
    Ctx.HostFolder = kHostFolder;
    Ctx.UserLCID = 1033;
    Ctx.ProgRegistry = std::make_unique<Registry>(os::KEY_ALL_ACCESS);
}

class LangFixture : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State&) override {
        FreshMachine();
        os::sim::PutFile(kLangFolder + "english.lng", LangFileOf300Lines("1033"));
        if (!InitLanguages()) {
            throw std::runtime_error("the benchmark's language file was refused");
        }
    }
    void TearDown(const benchmark::State&) override {
        DoneLangUnit();
        Ctx.ProgRegistry.reset();
    }
};

BENCHMARK_F(LangFixture, SectionScanToMissingKey)(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetLangText("absent"));
    }
}

BENCHMARK_F(LangFixture, GetLangText)(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetLangText("key50"));
    }
}

BENCHMARK_F(LangFixture, GetLangLongText)(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetLangLongText("last"));
    }
}

BENCHMARK_F(LangFixture, FormatLangText)(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatLangText("last", {"Zelm Live Update", "Bellwick 5"}));
    }
}

BENCHMARK_F(LangFixture, FormatLangLongText)(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatLangLongText("last", {"Zelm Live Update", "Bellwick 5"}));
    }
}

void InitLanguagesOver40Files(benchmark::State& state) {
    FreshMachine();
    os::sim::PutFile(kLangFolder + "english.lng", LangFileOf300Lines("1033"));
    for (int i = 1; i < 40; ++i) {
        os::sim::PutFile(kLangFolder + "lang" + std::to_string(i) + ".lng",
                         LangFileOf300Lines(std::to_string(2000 + i)));
    }
    for (auto _ : state) {
        if (!InitLanguages()) {
            state.SkipWithError("the language files were refused");
            break;
        }
    }
    DoneLangUnit();
    Ctx.ProgRegistry.reset();
}
BENCHMARK(InitLanguagesOver40Files)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
