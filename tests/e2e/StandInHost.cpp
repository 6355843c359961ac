// zelm.exe for the Wine tests: a stand-in for the host program with exactly what the updater
// relies on. While it runs it keeps the named mapping "zelm_memfile", a top-level window of class
// "TZelmMainForm" and, when present, "zorv.3bs" of its own folder open with no sharing. WM_QUIT
// posted to its window makes it release the file after --release-delay-ms and exit; --never-quit
// ignores WM_QUIT. Every start and quit goes to "zelm-starts.log" next to the executable.
#include "E2eSupport.h"

#include <string>

namespace {

struct HostLog {
    std::wstring path;

    void Write(const char* event, const std::string& fields) const {
        e2e::AppendLine(path, "{\"event\":" + e2e::JsonString(event) +
                                  ",\"time\":" + e2e::JsonString(e2e::UtcTimestamp()) +
                                  ",\"tick\":" + std::to_string(GetTickCount()) + fields + "}");
    }
};

std::string CurrentFolder() {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    return e2e::Utf8(std::wstring(folder, length < MAX_PATH ? length : 0));
}

HANDLE HoldBank(const std::wstring& folder) {
    const std::wstring bank = folder + L"zorv.3bs";
    if (!e2e::FileExists(bank)) {
        return INVALID_HANDLE_VALUE;
    }
    // Shared with readers, as a program that only reads its bank would: the updater's exclusive
    // open is what fails while the host runs.
    return CreateFileW(bank.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

LRESULT CALLBACK MainFormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateMainForm(HINSTANCE instance) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MainFormProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "TZelmMainForm";
    if (RegisterClassA(&windowClass) == 0) {
        return nullptr;
    }
    // Never shown, so that screenshots show only the updater's boxes; FindWindowA finds it.
    return CreateWindowExA(0, "TZelmMainForm", "Zelm", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
}

// Runs until a WM_QUIT that is not ignored; GetMessage returns 0 for each one it delivers.
void RunMessageLoop(const HostLog& log, bool neverQuit) {
    MSG message;
    for (;;) {
        const BOOL result = GetMessageA(&message, nullptr, 0, 0);
        if (result == -1) {
            log.Write("error", ",\"call\":\"GetMessageA\"");
            return;
        }
        if (result == 0) {
            log.Write("quit", std::string(",\"ignored\":") + (neverQuit ? "true" : "false"));
            if (!neverQuit) {
                return;
            }
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const std::vector<std::wstring> args = e2e::Arguments();
    const std::wstring folder = e2e::ModuleFolder();
    const HostLog log{folder + L"zelm-starts.log"};
    const DWORD releaseDelayMs = std::stoul(e2e::Option(args, L"--release-delay-ms", L"0"));
    const bool neverQuit = e2e::Flag(args, L"--never-quit");

    const HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, "zelm_memfile");
    const bool mappingExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    const HANDLE bank = HoldBank(folder);
    const HWND mainForm = CreateMainForm(instance);
    log.Write("start", ",\"commandLine\":" + e2e::JsonString(e2e::Utf8(GetCommandLineW())) +
                           ",\"currentFolder\":" + e2e::JsonString(CurrentFolder()) +
                           ",\"exeFolder\":" + e2e::JsonString(e2e::Utf8(folder)) +
                           ",\"mapping\":" + (mapping ? "true" : "false") +
                           ",\"mappingExisted\":" + (mappingExisted ? "true" : "false") +
                           ",\"holdsBank\":" + (bank != INVALID_HANDLE_VALUE ? "true" : "false") +
                           ",\"window\":" + (mainForm ? "true" : "false"));

    RunMessageLoop(log, neverQuit);

    Sleep(releaseDelayMs);
    // Logged while the bank is still held: an updater that measures the folder after opening the
    // bank then always finds this line in the log.
    log.Write("released", "");
    if (bank != INVALID_HANDLE_VALUE) {
        CloseHandle(bank);
    }
    if (mainForm != nullptr) {
        DestroyWindow(mainForm);
    }
    if (mapping != nullptr) {
        CloseHandle(mapping);
    }
    return 0;
}
