// The program context: the process-wide record of one update, the shared registry accessor, and
// the two services every later step uses (the program's own key and the bilingual error box).
#pragma once

#include "os/os.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// An error raised by the registry accessor; its text is what the "Application Error" box shows.
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value of another type than text where text was asked for.
class RegistryTypeError : public RegistryError {
public:
    using RegistryError::RegistryError;
};

// The one registry object of the process: a root key, an access mask fixed at creation and at
// most one open key. Closing a key does not flush it.
class Registry {
public:
    explicit Registry(os::REGSAM access);
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;
    ~Registry() = default; // the owner of the current key closes it

    void SetRootKey(os::HKEY root); // a change of root closes the current key
    os::HKEY RootKey() const { return root_; }
    os::REGSAM Access() const { return access_; }
    // Relative paths open below the current key when one is open; a leading backslash (or no
    // open key) starts from the root. Raises nothing; the new key replaces the current one.
    bool OpenKey(const std::string& path, bool canCreate);
    bool ValueExists(const std::string& name);
    // Empty for a missing value or one without data; cut at the first zero byte. Raises
    // RegistryError for a value that is neither REG_SZ nor REG_EXPAND_SZ, or a failed read.
    std::string ReadString(const std::string& name);
    void WriteInteger(const std::string& name, std::int32_t value); // REG_DWORD; raises on failure
    void CloseKey();
    bool HasCurrentKey() const { return key_.valid(); }
    const std::string& CurrentPath() const { return path_; }

private:
    os::HKEY root_ = os::HKEY_CURRENT_USER;
    os::REGSAM access_;
    os::ScopedRegHandle key_;
    std::string path_;
};

// Closes the accessor's current key when the scope ends, also when a read raises.
class CurrentKeyScope {
public:
    explicit CurrentKeyScope(Registry& registry) : registry_(registry) {}
    CurrentKeyScope(const CurrentKeyScope&) = delete;
    CurrentKeyScope& operator=(const CurrentKeyScope&) = delete;
    ~CurrentKeyScope() { registry_.CloseKey(); }

private:
    Registry& registry_;
};

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

bool IsCyrillicLcid(os::LCID lcid);
// The arguments of a command line as Windows programs split it (the program name first).
std::vector<std::string> SplitCommandLine(const char* commandLine);
std::string AsciiLower(std::string text); // folds A-Z only
std::string ParamStr(int index);          // argument `index` of this process, empty when absent

// Opens (creating) HKCU\Software\Orvek\<ProgName> on ProgRegistry; never fails to its caller.
void OpenProgKey();
// The error box that needs no language file: Russian text on a Cyrillic locale, else English.
void ShowBilingualError(const std::string& english, const std::string& russian);

// Windows-1251 form of a UTF-8 source text (the fixed Russian texts are kept readable in UTF-8).
std::string Cp1251(const char* utf8);
