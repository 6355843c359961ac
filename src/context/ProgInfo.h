// The program context: the process-wide record of one update, the shared registry accessor, and
// the two services every later step uses (the program's own key and the bilingual error box),
// with the style and language of every error box.
#pragma once

#include "base/PathTools.h"
#include "base/Registry.h"
#include "os/os.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Everything one update knows, filled in a fixed order during start-up and the sequence.
// Texts are single-byte ANSI strings; folders end in a backslash.
struct UpdateContext {
    std::string ProductNameKey;
    std::string SoundBankFileName;
    std::int32_t BankVersion = 0;
    std::string BankVersionText;
    std::string SoundBankExt;
    std::string ProgName;
    std::string LocalCaption;
    std::string EnglishCaption;
    std::string HostFolder;
    std::string UninstallKey;
    // The uninstall entry whose "UninstallString" gave the host folder, else the plain one under
    // UninstallKey: the size goes where the host's own entry stands.
    std::string HostEntryKey;
    bool IsAdmin = false;
    bool QuietMode = false;
    std::string FirstParam;
    os::LCID UserLCID = 0;
    bool IsCyrillicLocale = false;
    std::int32_t LangCode = -1;
    std::unique_ptr<Registry> ProgRegistry;
};

extern UpdateContext Ctx;

inline constexpr char VendorKey[] = "Software\\Orvek\\";
inline constexpr char WinCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\";

// Start-up of the context (seed, locale, version step, ProgRegistry, FirstParam) and its release.
void InitProgInfo();
void DoneProgInfo();

[[nodiscard]] bool IsCyrillicLcid(os::LCID lcid);
// The arguments of a command line as Windows programs split it (the program name first).
std::vector<std::string> SplitCommandLine(const char* commandLine);
std::string ParamStr(int index); // argument `index` of this process, empty when absent

// Opens (creating) HKCU\Software\Orvek\<ProgName> on ProgRegistry; never fails to its caller.
void OpenProgKey();

// Every error box: one OK button, the error icon, shown on the active desktop without an owner.
inline constexpr os::UINT kErrorBoxStyle =
    os::MB_OK | os::MB_ICONERROR | os::MB_SERVICE_NOTIFICATION;
// The language of boxes with language texts: the low 16 bits of the current file's code.
[[nodiscard]] os::WORD BoxLanguage();
// The error box that needs no language file: Russian text on a Cyrillic locale, else English.
void ShowBilingualError(const std::string& english, const std::string& russian);

// Windows-1251 form of a UTF-8 source text (the fixed Russian texts are kept readable in UTF-8).
std::string Cp1251(const char* utf8);
