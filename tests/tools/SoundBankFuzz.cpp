// Fuzzes the container checks: any input is either rejected with an error line or accepted, and
// an accepted bank is rebuilt byte for byte from the layout and clips that the check reports.
#include "install/SoundBank.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const SoundBankCheck check = CheckSoundBank(data, size);
    if (!check.Ok()) {
        if (check.Error.empty() || check.Error.find('\n') != std::string::npos)
            std::abort();
        return 0;
    }
    const SoundBankLayout& layout = check.Layout;
    std::vector<std::vector<std::uint8_t>> clips;
    for (std::size_t k = 0; k < layout.ClipCount(); ++k)
        clips.emplace_back(data + layout.Offsets[k], data + layout.Offsets[k + 1]);
    const SoundBankFields fields{layout.Byte4, layout.Version, layout.GroupCounts,
                                 layout.HeaderWord, layout.Trailer};
    std::string error;
    const std::vector<std::uint8_t> rebuilt = BuildSoundBank(fields, clips, error);
    if (rebuilt.size() != size || std::memcmp(rebuilt.data(), data, size) != 0)
        std::abort();
    return 0;
}
