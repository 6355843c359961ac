// The floor of a quiet update under Wine: the least a program must do to deliver the bank as the
// updater does, with nothing of its checks, texts or boxes.
//
//   floor.exe [--ver] BANK-PATH
//
// --ver runs "ver" through cmd.exe into a temporary file and waits for it, as the updater does on
// Windows 8 and later. Then it reads its own file once, writes the embedded bank (resource type
// "3BS", name "ZORV") to BANK-PATH, and sets the host's "EstimatedSize". Exit code 0 when all
// of it worked, 1 otherwise.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelm";

bool RunVer() {
    char system[MAX_PATH];
    char temp[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryA(system, MAX_PATH);
    const DWORD tempLength = GetTempPathA(MAX_PATH, temp);
    if (systemLength == 0 || systemLength >= MAX_PATH || tempLength == 0 ||
        tempLength >= MAX_PATH) {
        return false;
    }
    const std::string output = std::string(temp, tempLength) + "floorver.txt";
    std::string command =
        std::string(system, systemLength) + "\\cmd.exe /d /c ver > \"" + output + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return DeleteFileA(output.c_str()) != 0;
}

// In blocks of 1 MiB, the size the updater's self-check reads in.
bool ReadOwnFile() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::vector<char> block(1 << 20);
    DWORD got = 0;
    BOOL read = FALSE;
    do {
        read = ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &got, nullptr);
    } while (read && got > 0);
    CloseHandle(file);
    return read != 0;
}

// The bank's size in bytes, or 0 when it could not be written whole.
DWORD WriteBank(const char* target) {
    const HRSRC found = FindResourceA(nullptr, "ZORV", "3BS");
    const HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = found != nullptr ? SizeofResource(nullptr, found) : 0;
    if (bytes == nullptr || size == 0) {
        return 0;
    }
    const HANDLE file = CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD written = 0;
    const bool whole = WriteFile(file, bytes, size, &written, nullptr) != 0 && written == size;
    return CloseHandle(file) != 0 && whole ? size : 0;
}

// In the 64-bit registry view, as the updater writes on 64-bit Windows; a 32-bit floor would
// otherwise write under WOW6432Node.
bool SetEstimatedSize(DWORD kib) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG set = RegSetValueExA(key, "EstimatedSize", 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&kib), sizeof kib);
    RegCloseKey(key);
    return set == ERROR_SUCCESS;
}

} // namespace

int main(int argc, char** argv) {
    const bool ver = argc == 3 && std::strcmp(argv[1], "--ver") == 0;
    if (argc != (ver ? 3 : 2)) {
        return 1;
    }
    if (ver && !RunVer()) {
        return 1;
    }
    if (!ReadOwnFile()) {
        return 1;
    }
    const DWORD size = WriteBank(argv[argc - 1]);
    return size != 0 && SetEstimatedSize(size / 1024) ? 0 : 1;
}
