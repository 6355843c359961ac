#include "context/ProgInfo.h"

#include "platform/Random.h"
#include "platform/WinVer.h"

#include <algorithm>
#include <array>

UpdateContext Ctx;

namespace {

std::uint32_t RandomSeed() {
    os::LONGLONG counter = 0;
    if (os::QueryPerformanceCounter(&counter)) {
        return static_cast<std::uint32_t>(static_cast<std::uint64_t>(counter));
    }
    return os::GetTickCount();
}

bool SeparatesArguments(char c) {
    return static_cast<unsigned char>(c) <= ' ' && c != '\0';
}

// One argument from `p` on: quotes group blanks into it and are dropped. Leading separators and
// empty "" pairs before it are skipped. Returns false at the end of the line.
bool NextArgument(const char*& p, std::string& argument) {
    for (;;) {
        while (SeparatesArguments(*p)) {
            ++p;
        }
        if (p[0] == '"' && p[1] == '"') {
            p += 2;
        } else {
            break;
        }
    }
    if (*p == '\0') {
        return false;
    }
    argument.clear();
    bool quoted = false;
    for (; *p != '\0' && (quoted || !SeparatesArguments(*p)); ++p) {
        if (*p == '"') {
            quoted = !quoted;
        } else {
            argument += *p;
        }
    }
    return true;
}

// ---- UTF-8 to Windows-1251, for the fixed Russian texts ----

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// The code point at `p`, advancing past it; a malformed sequence yields U+FFFD for its first byte.
std::uint32_t NextCodePoint(const unsigned char*& p) {
    const unsigned char lead = *p++;
    if (lead < 0x80) {
        return lead;
    }
    if ((lead & 0xE0) == 0xC0 && IsContinuation(p[0])) {
        const std::uint32_t code = (lead & 0x1Fu) << 6 | (p[0] & 0x3Fu);
        p += 1;
        return code;
    }
    if ((lead & 0xF0) == 0xE0 && IsContinuation(p[0]) && IsContinuation(p[1])) {
        const std::uint32_t code = (lead & 0x0Fu) << 12 | (p[0] & 0x3Fu) << 6 | (p[1] & 0x3Fu);
        p += 2;
        return code;
    }
    return 0xFFFD;
}

char Cp1251Char(std::uint32_t code) {
    if (code < 0x80) {
        return static_cast<char>(code);
    }
    if (code >= 0x0410 && code <= 0x044F) { // А..я lie in one run from 0xC0
        return static_cast<char>(code - 0x0410 + 0xC0);
    }
    switch (code) {
    case 0x0401: // Ё
        return static_cast<char>(0xA8);
    case 0x0451: // ё
        return static_cast<char>(0xB8);
    case 0x2116: // №
        return static_cast<char>(0xB9);
    default:
        return '?';
    }
}

} // namespace

// ---- Context ----

void InitProgInfo() {
    Randomize(RandomSeed());
    Ctx.UserLCID = os::GetUserDefaultLCID();
    Ctx.IsCyrillicLocale = IsCyrillicLcid(Ctx.UserLCID);
    GetWinVersionText(); // only for IsWin64, which chooses the registry view
    Ctx.ProgRegistry = std::make_unique<Registry>(IsWin64 ? os::KEY_ALL_ACCESS | os::KEY_WOW64_64KEY
                                                          : os::KEY_ALL_ACCESS);
    Ctx.FirstParam = AsciiLower(ParamStr(1));
}

void DoneProgInfo() {
    Ctx = UpdateContext{};
}

bool IsCyrillicLcid(os::LCID lcid) {
    static constexpr std::array<os::LCID, 7> kCyrillic = {0x0402, 0x0419, 0x0422, 0x0423,
                                                          0x043F, 0x0444, 0x0819};
    return std::find(kCyrillic.begin(), kCyrillic.end(), lcid) != kCyrillic.end();
}

std::vector<std::string> SplitCommandLine(const char* commandLine) {
    std::vector<std::string> arguments;
    if (commandLine == nullptr) {
        return arguments;
    }
    std::string argument;
    while (NextArgument(commandLine, argument)) {
        arguments.push_back(argument);
    }
    return arguments;
}

std::string ParamStr(int index) {
    const std::vector<std::string> arguments = SplitCommandLine(os::GetCommandLineA());
    if (index < 0 || static_cast<std::size_t>(index) >= arguments.size()) {
        return "";
    }
    return arguments[static_cast<std::size_t>(index)];
}

// The accessor's open raises nothing, so there is no error here to keep from the caller.
void OpenProgKey() {
    Ctx.ProgRegistry->SetRootKey(os::HKEY_CURRENT_USER);
    // A key that cannot be opened leaves none current, and the caller's lookups find nothing.
    (void)Ctx.ProgRegistry->OpenKey(VendorKey + Ctx.ProgName, true);
}

os::WORD BoxLanguage() {
    return static_cast<os::WORD>(static_cast<std::uint32_t>(Ctx.LangCode) & 0xFFFFu);
}

void ShowBilingualError(const std::string& english, const std::string& russian) {
    constexpr os::WORD kRussianNeutral = 0x0019; // sets the language of the button
    if (Ctx.IsCyrillicLocale) {
        os::MessageBoxExA(nullptr, russian.c_str(), Ctx.LocalCaption.c_str(), kErrorBoxStyle,
                          kRussianNeutral);
    } else {
        os::MessageBoxA(nullptr, english.c_str(), Ctx.EnglishCaption.c_str(), kErrorBoxStyle);
    }
}

std::string Cp1251(const char* utf8) {
    std::string text;
    for (auto p = reinterpret_cast<const unsigned char*>(utf8); *p != 0;) {
        text += Cp1251Char(NextCodePoint(p));
    }
    return text;
}
