// Arbitrary bytes as language files, through the start-up and every kind of lookup: nothing may
// crash, hang, leak memory, or leave a file handle or registry key open.
//
// Input: one control byte (bits 0-1 the user's locale, bit 2 a recorded "LangFile" naming the
// second file, bit 3 that value stored as a number, bits 4-7 the number of the file read that
// fails, 0 for none), then english.lng, a 0x1E byte, and the second file ("russian.lng" on a
// Cyrillic locale, "other.lng" elsewhere).
#include "context/ProgInfo.h"
#include "lang/LangUnit.h"
#include "os/sim/Sim.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

const std::string kHostFolder = "C:\\Zelm\\";
const std::string kProgKey = "Software\\Orvek\\Zelm";
constexpr os::LCID kLocales[] = {1033, 1049, 1058, 1031};
// Keys of each shape: a single-line and a multi-line text with placeholders, the numbers, and
// the degenerate keys that make "[]" or "[]]" a header.
const char* const kKeys[] = {"progname", "noright", "installask", "langcode", "", "]"};

void SetUpMachine(std::uint8_t control, const std::string& english, const std::string& second) {
    os::sim::Reset();
    Ctx = UpdateContext();
    Ctx.ProgName = "Zelm";
    Ctx.HostFolder = kHostFolder;
    Ctx.EnglishCaption = "Zelm update";
    Ctx.UserLCID = kLocales[control & 3];
    Ctx.IsCyrillicLocale = IsCyrillicLcid(Ctx.UserLCID);
    Ctx.ProgRegistry = std::make_unique<Registry>(os::KEY_ALL_ACCESS);
    const std::string secondName = Ctx.IsCyrillicLocale ? "russian.lng" : "other.lng";
    os::sim::PutFile(kHostFolder + "language\\english.lng", english);
    os::sim::PutFile(kHostFolder + "language\\" + secondName, second);
    if (const int failingRead = control >> 4) {
        os::sim::FailCall(os::sim::Call::ReadFile, failingRead, os::ERROR_READ_FAULT);
    }
    if (control & 4) {
        if (control & 8) {
            os::sim::SetRegDword(os::HKEY_CURRENT_USER, kProgKey, "LangFile", 7);
        } else {
            os::sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "LangFile", secondName);
        }
    }
}

void LookUpEverything() {
    for (const char* key : kKeys) {
        GetLangText(key);
        GetLangLongText(key);
        FormatLangText(key, {"%2%1", "x%3"});
        ShowLangError(FormatLangLongText(key, {"a", "%1", "%4", "d", "e"}));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = input.find('\x1E');
    SetUpMachine(data[0], input.substr(0, split),
                 split == std::string::npos ? std::string() : input.substr(split + 1));
    // Only crashes, undefined behaviour and leaks count here, not what the calls answer.
    (void)InitLanguages();
    LookUpEverything();
    std::int32_t number = 0;
    (void)ParseWholeNumber(input, number);
    DoneLangUnit();
    if (os::sim::OpenHandles() != 0 || os::sim::OpenKeys() != 0) {
        std::abort();
    }
    Ctx.ProgRegistry.reset();
    return 0;
}
