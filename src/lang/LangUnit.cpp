#include "lang/LangUnit.h"

#include "context/HostInterface.h"
#include "context/ProgInfo.h"
#include "os/os.h"

#include <algorithm>
#include <cstring>

namespace {

LangState State;

constexpr char kReinstallEnglish[] = "Please reinstall the program.";
constexpr char kReinstallRussian[] = "Пожалуйста, переустановите программу.";

// The lines of one language file, read in large blocks. A line ends at LF; every CR is dropped.
// Opened for reading only and shared with other readers only, so a file that another program
// is writing counts as unreadable; closed when the reader goes away.
class LangFileReader {
public:
    explicit LangFileReader(const std::string& path)
        : file_(os::CreateFileA(path.c_str(), os::GENERIC_READ, os::FILE_SHARE_READ, nullptr,
                                os::OPEN_EXISTING, os::FILE_ATTRIBUTE_NORMAL, nullptr)) {}

    bool IsOpen() const { return file_.valid(); }
    bool Failed() const { return failed_; }

    // False at the end of the file and after a failed read (see Failed).
    bool ReadLine(std::string& line) {
        line.clear();
        bool consumed = false;
        while (FillBlock()) {
            const char* start = block_ + position_;
            const auto available = static_cast<std::size_t>(length_ - position_);
            const void* newline = std::memchr(start, '\n', available);
            const std::size_t taken =
                newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - start)
                        : available;
            line.append(start, taken);
            consumed = true;
            position_ += static_cast<os::DWORD>(taken);
            if (newline) {
                ++position_;
                break;
            }
        }
        if (failed_) {
            return false;
        }
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        return consumed;
    }

private:
    static constexpr os::DWORD kBlockSize = 16384;

    // True while unread bytes are in the block; reads the next block when it is used up.
    bool FillBlock() {
        if (position_ < length_) {
            return true;
        }
        if (atEnd_ || failed_) {
            return false;
        }
        os::DWORD read = 0;
        if (!os::ReadFile(file_.get(), block_, kBlockSize, &read, nullptr)) {
            failed_ = true;
            return false;
        }
        position_ = 0;
        length_ = read;
        atEnd_ = read == 0;
        return !atEnd_;
    }

    os::ScopedFileHandle file_;
    char block_[kBlockSize];
    os::DWORD length_ = 0;
    os::DWORD position_ = 0;
    bool atEnd_ = false;
    bool failed_ = false;
};

bool IsBlank(unsigned char c) {
    return c <= 32;
}

std::string TrimBlanks(const std::string& text) {
    auto first = text.begin();
    auto last = text.end();
    while (first != last && IsBlank(static_cast<unsigned char>(*first))) {
        ++first;
    }
    while (last != first && IsBlank(static_cast<unsigned char>(*(last - 1)))) {
        --last;
    }
    return std::string(first, last);
}

// Only a line that starts with "[" can be a header; words after the "]" do not matter.
// `closedKey` is the lowercased key followed by "]".
bool IsHeaderOf(const std::string& line, const std::string& closedKey) {
    if (line.empty() || line[0] != '[') {
        return false;
    }
    return AsciiLower(TrimBlanks(line)).find(closedKey) == 1;
}

// Moves the reader to just after the key's value line. False when no header matches (or the
// file cannot be read); a header on the last line gives an empty value line.
bool FindValueLine(LangFileReader& reader, const std::string& lowerKey, std::string& valueLine) {
    const std::string closedKey = lowerKey + "]";
    std::string line;
    while (reader.ReadLine(line)) {
        if (IsHeaderOf(line, closedKey)) {
            if (!reader.ReadLine(valueLine)) {
                valueLine.clear();
            }
            return true;
        }
    }
    return false;
}

// Continuation lines run to the first blank line (consumed) or the end of the file; a header
// among them is text like any other.
void AppendContinuationLines(LangFileReader& reader, std::string& text) {
    std::string line;
    while (reader.ReadLine(line) && !TrimBlanks(line).empty()) {
        text += "\r\n";
        text += line;
    }
}

const std::string* LangFileAt(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= State.LangFiles.size()) {
        return nullptr;
    }
    return &State.LangFiles[static_cast<std::size_t>(index)];
}

int DefaultLangIndex() {
    return Ctx.IsCyrillicLocale ? State.RussianLangIndex : State.EnglishLangIndex;
}

std::string LanguageFolder() {
    return Ctx.HostFolder + host::LanguageFolder;
}

struct FileText {
    bool failed = false; // the file could not be opened or read; already reported
    std::string text;
};

// One pass over one file: the key's value line and, for a multi-line lookup, its continuation
// lines. After an empty value line they are collected only when `joinAfterEmptyValue`.
FileText ReadKeyFromFile(const std::string& fileName, const std::string& lowerKey, bool multiLine,
                         bool joinAfterEmptyValue) {
    LangFileReader reader(LanguageFolder() + fileName);
    FileText result;
    if (reader.IsOpen() && FindValueLine(reader, lowerKey, result.text) && multiLine &&
        (joinAfterEmptyValue || !result.text.empty())) {
        AppendContinuationLines(reader, result.text);
    }
    if (!reader.IsOpen() || reader.Failed()) {
        ReportLangFileError(fileName);
        return FileText{true, std::string()};
    }
    return result;
}

// The current file first; its empty value line (not a read failure) sends the lookup to the
// default file. A lookup before any file is listed or selected finds nothing.
std::string LookUp(const std::string& key, bool multiLine) {
    const std::string lowerKey = AsciiLower(key);
    if (const std::string* current = LangFileAt(State.CurrentLangIndex)) {
        FileText own = ReadKeyFromFile(*current, lowerKey, multiLine, false);
        if (own.failed || !own.text.empty()) {
            return own.text;
        }
    }
    const std::string* fallback = LangFileAt(DefaultLangIndex());
    return fallback ? ReadKeyFromFile(*fallback, lowerKey, multiLine, true).text : std::string();
}

// "%1" is filled first; each following number only when the one before it occurred. A number
// beyond the given arguments is filled with empty text.
std::string SubstitutePlaceholders(std::string text, const std::vector<std::string>& args) {
    for (std::size_t n = 1; n <= 4; ++n) {
        const std::string placeholder = "%" + std::to_string(n);
        if (text.find(placeholder) == std::string::npos) {
            break;
        }
        const std::string& arg = n <= args.size() ? args[n - 1] : std::string();
        std::string replaced;
        std::size_t from = 0;
        for (std::size_t at; (at = text.find(placeholder, from)) != std::string::npos;
             from = at + placeholder.size()) {
            replaced.append(text, from, at - from).append(arg);
        }
        text = replaced.append(text, from, std::string::npos);
    }
    return text;
}

bool ContainsErrorsBox(const std::string& fileName) {
    ShowBilingualError(fileName + " file contains errors.\r\n" + kReinstallEnglish,
                       Cp1251("Файл ") + fileName + Cp1251(" содержит ошибки!\r\n") +
                           Cp1251(kReinstallRussian));
    return false;
}

// Makes the file current and takes its caption and code; false when "langcode" is no number
// (LangCode then keeps its previous value).
bool SelectLanguageChecked(int index) {
    State.CurrentLangIndex = index;
    Ctx.LocalCaption = GetLangText("progname");
    std::int32_t code = 0;
    if (!ParseWholeNumber(GetLangText("langcode"), code)) {
        return false;
    }
    Ctx.LangCode = code;
    return true;
}

void ListLanguageFiles() {
    os::WIN32_FIND_DATAA found{};
    os::ScopedFindHandle find(
        os::FindFirstFileA((LanguageFolder() + host::LanguagePattern).c_str(), &found));
    if (!find) {
        return;
    }
    do {
        const std::string name = found.cFileName;
        if (name.find('!') != std::string::npos) {
            continue;
        }
        const auto index = static_cast<int>(State.LangFiles.size());
        State.LangFiles.push_back(name);
        const std::string lower = AsciiLower(name);
        if (lower == host::RussianLangFile) {
            State.RussianLangIndex = index;
        } else if (lower == host::EnglishLangFile) {
            State.EnglishLangIndex = index;
        }
    } while (os::FindNextFileA(find.get(), &found));
}

// "english.lng" is needed everywhere, "russian.lng" as well on a Cyrillic locale; one is named.
bool RequiredFilesPresent() {
    std::string missing;
    if (Ctx.IsCyrillicLocale && State.RussianLangIndex < 0) {
        missing = host::RussianLangFile;
    } else if (State.EnglishLangIndex < 0) {
        missing = host::EnglishLangFile;
    } else {
        return true;
    }
    ShowBilingualError("Can't work with no " + missing + " file!\r\n" + kReinstallEnglish,
                       Cp1251("Работа без файла ") + missing + Cp1251(" невозможна!\r\n") +
                           Cp1251(kReinstallRussian));
    return false;
}

// Every "langcode" line must be a number; a later file holding the user's locale wins.
bool LangCodeLinesValid(int index) {
    const std::string codes = GetLangLongText("langcode");
    if (codes.empty()) {
        return true;
    }
    std::size_t from = 0;
    for (;;) {
        const std::size_t end = codes.find("\r\n", from);
        std::int32_t code = 0;
        if (!ParseWholeNumber(codes.substr(from, end - from), code)) {
            return false;
        }
        if (static_cast<std::int64_t>(code) == static_cast<std::int64_t>(Ctx.UserLCID)) {
            State.LocaleLangIndex = index;
        }
        if (end == std::string::npos) {
            return true;
        }
        from = end + 2;
    }
}

bool LanguageFileValid(int index) {
    std::int32_t version = 0;
    return SelectLanguageChecked(index) && ParseWholeNumber(GetLangText("langver"), version) &&
           LangCodeLinesValid(index);
}

// Reads "LangFile" as text; a value of another type counts as absent rather than as a fault,
// while a read that fails still ends the run as every unexpected registry error does.
std::string RecordedLangFile() {
    Registry& registry = *Ctx.ProgRegistry;
    if (!registry.ValueExists(host::LangFileValue)) {
        return std::string();
    }
    try {
        return registry.ReadString(host::LangFileValue);
    } catch (const RegistryTypeError&) {
        return std::string();
    }
}

// The host's own recorded choice wins over the locale; the name must match exactly.
void ApplyRecordedChoice() {
    OpenProgKey();
    const CurrentKeyScope scope(*Ctx.ProgRegistry);
    const std::string recorded = RecordedLangFile();
    const std::string* current = LangFileAt(State.CurrentLangIndex);
    if (recorded.empty() || (current && recorded == *current)) {
        return;
    }
    const auto entry = std::find(State.LangFiles.begin(), State.LangFiles.end(), recorded);
    if (entry != State.LangFiles.end()) {
        SelectLanguage(static_cast<int>(entry - State.LangFiles.begin()));
    }
}

// 1 for "$", "x" or "X", 2 for "0x" or "0X", 0 when the number is decimal.
std::size_t HexPrefixLength(const std::string& text, std::size_t at) {
    if (at < text.size() && (text[at] == '$' || text[at] == 'x' || text[at] == 'X')) {
        return 1;
    }
    return text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0 ? 2 : 0;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Every character from `at` on must be a digit of `base`; at least one is needed, and the value
// may not pass `limit` (checked digit by digit, so leading zeros are harmless).
bool ParseMagnitude(const std::string& text, std::size_t at, unsigned base, std::uint64_t limit,
                    std::uint64_t& magnitude) {
    if (at >= text.size()) {
        return false;
    }
    magnitude = 0;
    for (; at < text.size(); ++at) {
        const int digit = DigitValue(text[at]);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) {
            return false;
        }
        magnitude = magnitude * base + static_cast<unsigned>(digit);
        if (magnitude > limit) {
            return false;
        }
    }
    return true;
}

void ResetState() {
    State = LangState();
}

} // namespace

const LangState& Languages() {
    return State;
}

bool InitLanguages() {
    ResetState();
    ListLanguageFiles();
    if (!RequiredFilesPresent()) {
        return false;
    }
    for (std::size_t i = 0; i < State.LangFiles.size(); ++i) {
        if (!LanguageFileValid(static_cast<int>(i))) {
            return ContainsErrorsBox(State.LangFiles[i]);
        }
    }
    SelectLanguage(State.LocaleLangIndex >= 0 ? State.LocaleLangIndex : DefaultLangIndex());
    ApplyRecordedChoice();
    return true;
}

// Every listed file has passed the check by the time this is called, so its code is a number.
void SelectLanguage(int index) {
    SelectLanguageChecked(index);
}

// Lookups close their file before they return, so only the lists remain to be released.
void DoneLangUnit() {
    ResetState();
}

std::string GetLangText(const std::string& key) {
    return LookUp(key, false);
}

std::string GetLangLongText(const std::string& key) {
    return LookUp(key, true);
}

std::string FormatLangText(const std::string& key, const std::vector<std::string>& args) {
    return SubstitutePlaceholders(GetLangText(key), args);
}

std::string FormatLangLongText(const std::string& key, const std::vector<std::string>& args) {
    return SubstitutePlaceholders(GetLangLongText(key), args);
}

void ShowLangError(const std::string& text) {
    os::MessageBoxExA(nullptr, text.c_str(), Ctx.LocalCaption.c_str(), kErrorBoxStyle,
                      BoxLanguage());
}

void ReportLangFileError(const std::string& fileName) {
    ShowBilingualError("Can't handle the language support file " + fileName,
                       Cp1251("Не удаётся работать с файлом языковой поддержки ") + fileName);
}

// Follows the platform's standard conversion: a sign may precede a "$", "x" or "0x" prefix, and
// hexadecimal digits give the 32-bit pattern ("$FFFFFFFF" is -1, "-$10" is -16), while decimal
// must fit in -2147483648..2147483647. Only spaces may lead; nothing may follow.
bool ParseWholeNumber(const std::string& text, std::int32_t& value) {
    std::size_t at = text.find_first_not_of(' ');
    if (at == std::string::npos) {
        return false;
    }
    const bool negative = text[at] == '-';
    if (text[at] == '-' || text[at] == '+') {
        ++at;
    }
    const std::size_t prefix = HexPrefixLength(text, at);
    const unsigned base = prefix > 0 ? 16 : 10;
    const std::uint64_t limit = base == 16 ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
    std::uint64_t magnitude = 0;
    if (!ParseMagnitude(text, at + prefix, base, limit, magnitude)) {
        return false;
    }
    const auto pattern = static_cast<std::uint32_t>(negative ? 0 - magnitude : magnitude);
    value = static_cast<std::int32_t>(pattern);
    return true;
}
