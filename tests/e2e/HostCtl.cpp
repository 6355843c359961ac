// hostctl.exe for the Wine tests: looks at and pokes the stand-in host the way the updater does.
//   hostctl probe            "mapping=present|absent window=found|missing"
//   hostctl locked PATH      "locked" (sharing violation), "free" or "missing"
//   hostctl quit             posts WM_QUIT to the "TZelmMainForm" window: "posted" or "nowindow"
//   hostctl wait-free PATH MS  polls an exclusive open: "free" or "locked" after MS milliseconds
//   hostctl start PATH       ShellExecuteA "open" from the file's folder: "started" or "failed N"
//   hostctl hold PATH READY MS  holds PATH open for deleting, sharing everything, writes the file
//                            READY once it holds it, and lets go after MS milliseconds
//   hostctl scan PATH READY MS  the same, open as an on-access scanner opens a file: reading,
//                            sharing reading and writing, not deleting
// Prints one line; exit code 0 when the command could be carried out.
#include "E2eSupport.h"

#include <cstdio>
#include <string>

namespace {

bool HostMappingExists() {
    const HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, "zelm_memfile");
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (mapping != nullptr) {
        CloseHandle(mapping);
    }
    return existed;
}

const char* ExclusiveOpenState(const std::string& path) {
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return "free";
    }
    return GetLastError() == ERROR_SHARING_VIOLATION ? "locked" : "missing";
}

int Probe() {
    std::printf("mapping=%s window=%s\n", HostMappingExists() ? "present" : "absent",
                FindWindowA("TZelmMainForm", nullptr) ? "found" : "missing");
    return 0;
}

int Quit() {
    const HWND window = FindWindowA("TZelmMainForm", nullptr);
    if (window == nullptr) {
        std::printf("nowindow\n");
        return 1;
    }
    const bool posted = PostMessageA(window, WM_QUIT, 0, 0) != FALSE;
    std::printf(posted ? "posted\n" : "postfailed\n");
    return posted ? 0 : 1;
}

int WaitFree(const std::string& path, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    const char* state = ExclusiveOpenState(path);
    while (std::string(state) == "locked" && GetTickCount() - start < timeoutMs) {
        Sleep(50);
        state = ExclusiveOpenState(path);
    }
    std::printf("%s\n", state);
    return 0;
}

int Start(const std::string& path) {
    const std::string folder = path.substr(0, path.rfind('\\') + 1);
    SetCurrentDirectoryA(folder.c_str());
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, "open", path.c_str(), "", "", SW_SHOWNORMAL));
    if (result > 32) {
        std::printf("started\n");
        return 0;
    }
    std::printf("failed %d\n", static_cast<int>(result));
    return 1;
}

// A program still starts from a file held so, but an open that does not share deleting (the
// updater's self-check opens its own file that way) is refused with a sharing violation.
// A scanner's open instead refuses a rename over the file, with access denied, while it lasts.
int Hold(const char* path, const char* ready, DWORD ms, DWORD access, DWORD share) {
    const HANDLE file = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("failed %lu\n", GetLastError());
        return 1;
    }
    const HANDLE signal = CreateFileA(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (signal != INVALID_HANDLE_VALUE) {
        CloseHandle(signal);
    }
    Sleep(ms);
    CloseHandle(file);
    std::printf("released\n");
    return 0;
}

int Usage() {
    std::printf("usage: hostctl probe|locked PATH|quit|wait-free PATH MS|start PATH|"
                "hold|scan PATH READY MS\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage();
    }
    const std::string command = argv[1];
    if (command == "probe") {
        return Probe();
    }
    if (command == "quit") {
        return Quit();
    }
    if (command == "locked" && argc == 3) {
        std::printf("%s\n", ExclusiveOpenState(argv[2]));
        return 0;
    }
    if (command == "wait-free" && argc == 4) {
        return WaitFree(argv[2], static_cast<DWORD>(std::stoul(argv[3])));
    }
    if (command == "start" && argc == 3) {
        return Start(argv[2]);
    }
    if (command == "hold" && argc == 5) {
        return Hold(argv[2], argv[3], static_cast<DWORD>(std::stoul(argv[4])), DELETE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    }
    if (command == "scan" && argc == 5) {
        return Hold(argv[2], argv[3], static_cast<DWORD>(std::stoul(argv[4])), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE);
    }
    return Usage();
}
