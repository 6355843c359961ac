// One quiet update ("modest") on the simulated Windows, for instruction counts under callgrind and
// the update's own peak heap. The machine: the host installed with its language files and an
// older bank, the updater a stamped image carrying the real sound bank as 3BS/ZORV.
//
// Prints the outcome and the heap figures; exits 1 when the update did not install the bank.
#include "context/ProgInfo.h"
#include "driver/ZelmSoundUpdate.h"
#include "os/sim/Sim.h"
#include "support/HostMachine.h"
#include "support/StampedImage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>

// ---- Heap accounting ----------------------------------------------------------------------------
// Every operator new of the process goes through here, so the peak of the bytes live during the
// update is exact (the simulated Windows's own bookkeeping included).

namespace {

std::size_t liveBytes = 0;
std::size_t peakBytes = 0;
constexpr std::size_t kHeaderSize = alignof(std::max_align_t);

void* Allocate(std::size_t size) {
    char* block = static_cast<char*>(std::malloc(size + kHeaderSize));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    std::memcpy(block, &size, sizeof size);
    liveBytes += size;
    peakBytes = liveBytes > peakBytes ? liveBytes : peakBytes;
    return block + kHeaderSize;
}

void Release(void* pointer) noexcept {
    if (pointer == nullptr) {
        return;
    }
    char* block = static_cast<char*>(pointer) - kHeaderSize;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    liveBytes -= size;
    std::free(block);
}

} // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void operator delete(void* pointer) noexcept {
    Release(pointer);
}
void operator delete[](void* pointer) noexcept {
    Release(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
    Release(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
    Release(pointer);
}

// ---- The machine --------------------------------------------------------------------------------

namespace {

namespace sim = os::sim;

const std::string kHost = "C:\\Program Files\\Zelm\\";
const std::string kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelm";
const std::string kOwnPath = "C:\\Users\\user\\Downloads\\ZelmSoundUpdate.exe";
const std::filesystem::path kSource = ZELM_SOURCE_DIR;

void InstallHost(const std::string& bank) {
    sim_tests::RegisterHost(kHost);
    sim::PutFile(kHost + "zelm.exe", std::string(3000, 'Z'));
    sim::PutFile(kHost + "unins000.exe", std::string(1500, 'U'));
    for (const auto& entry :
         std::filesystem::directory_iterator(kSource / "tests/data/host/language")) {
        sim::PutFile(kHost + "language\\" + entry.path().filename().string(),
                     sim_tests::ReadWholeFile(entry.path().string()));
    }
    std::string olderBank = bank;
    olderBank[5] = static_cast<char>(bank[5] - 1);
    sim::PutFile(kHost + "zorv.3bs", olderBank);
}

void InstallUpdater(const std::string& bank) {
    sim::AddResource("3BS", "ZORV", bank);
    sim::PutFile(kOwnPath, sim_tests::MakeStampedImage(bank));
    sim::SetOwnModulePath(kOwnPath);
    sim::SetCommandLine("\"" + kOwnPath + "\" modest");
}

// Everything the setup allocated is freed on return, except what the simulated machine keeps.
bool PrepareMachine() {
    sim::Reset();
    const std::string bank = sim_tests::ReadWholeFile((kSource / "res/zorv.3bs").string());
    if (bank.size() < 6) {
        std::fprintf(stderr, "res/zorv.3bs is missing or too short\n");
        return false;
    }
    InstallHost(bank);
    InstallUpdater(bank);
    return true;
}

bool Installed() {
    const auto installed = sim::GetFile(kHost + "zorv.3bs");
    return sim::Boxes().empty() && installed &&
           *installed == sim_tests::ReadWholeFile((kSource / "res/zorv.3bs").string()) &&
           sim::GetRegDword(os::HKEY_LOCAL_MACHINE, kUninstallKey, "EstimatedSize");
}

} // namespace

int main() {
    if (!PrepareMachine()) {
        return 1;
    }
    const std::size_t liveAtStart = liveBytes;
    peakBytes = liveBytes;
    const int exitCode = RunProgram();
    const std::size_t peakAbove = peakBytes - liveAtStart;
    const std::size_t leftAbove = liveBytes > liveAtStart ? liveBytes - liveAtStart : 0;
    if (exitCode != 0 || !Installed()) {
        std::fprintf(stderr,
                     "the quiet update did not install the bank (exit code %d, %zu boxes)\n",
                     exitCode, sim::Boxes().size());
        return 1;
    }
    std::printf("quiet update: exit code 0, bank installed, EstimatedSize written\n");
    std::printf("heap live before the update: %zu bytes\n", liveAtStart);
    std::printf("heap peak during the update above that: %zu bytes\n", peakAbove);
    std::printf("heap left after the update above that: %zu bytes\n", leftAbove);
    return 0;
}
