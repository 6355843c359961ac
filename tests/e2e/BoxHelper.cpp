// boxhelper.exe for the Wine tests: answers the message boxes of other programs from a script.
//   boxhelper --log PATH --answers yes,no,ok [--signal-dir DIR] [--stop-file PATH]
//             [--timeout-ms N]
// Each new visible top-level dialog ("#32770") of another process is one box: its caption, text
// and button labels are read as UTF-16, and one JSON line is appended to the log (UTF-8). With a
// signal folder it first writes DIR\box-N.ready and waits for DIR\box-N.ack, so that the driver
// can take a screenshot. Then it clicks the button that the next answer names. It ends when the
// stop file appears (exit code 0) or at the timeout (exit code 2).
#include "E2eSupport.h"

#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int kMessageTextId = 0xFFFF; // the static control that holds a box's text

struct Button {
    int id;
    std::wstring label;
};

struct Box {
    HWND window;
    DWORD processId;
    std::wstring caption;
    std::wstring text;
    std::vector<Button> buttons;
};

struct Script {
    std::wstring log;
    std::vector<std::wstring> answers;
    std::wstring signalDir;
    std::wstring stopFile;
    DWORD timeoutMs;
};

std::vector<std::wstring> SplitAnswers(const std::wstring& list) {
    std::vector<std::wstring> answers;
    std::size_t start = 0;
    while (start <= list.size() && !list.empty()) {
        const std::size_t comma = std::min(list.find(L',', start), list.size());
        answers.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return answers;
}

int ButtonId(const std::wstring& answer) {
    if (answer == L"yes") {
        return IDYES;
    }
    if (answer == L"no") {
        return IDNO;
    }
    if (answer == L"ok") {
        return IDOK;
    }
    if (answer == L"cancel") {
        return IDCANCEL;
    }
    return 0;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM boxParam) {
    auto* box = reinterpret_cast<Box*>(boxParam);
    if (e2e::ClassName(child) == L"Button" && IsWindowVisible(child)) {
        box->buttons.push_back({GetDlgCtrlID(child), e2e::WindowText(child)});
    }
    return TRUE;
}

Box ReadBox(HWND window) {
    Box box{window, 0, e2e::WindowText(window), {}, {}};
    GetWindowThreadProcessId(window, &box.processId);
    if (const HWND text = GetDlgItem(window, kMessageTextId)) {
        box.text = e2e::WindowText(text);
    }
    EnumChildWindows(window, CollectButton, reinterpret_cast<LPARAM>(&box));
    return box;
}

struct Search {
    const std::vector<HWND>* handled;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectNewBox(HWND window, LPARAM searchParam) {
    auto* search = reinterpret_cast<Search*>(searchParam);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const bool isNew = std::find(search->handled->begin(), search->handled->end(), window) ==
                       search->handled->end();
    if (isNew && processId != GetCurrentProcessId() && IsWindowVisible(window) &&
        e2e::ClassName(window) == L"#32770") {
        search->found.push_back(window);
    }
    return TRUE;
}

std::vector<HWND> NewBoxes(const std::vector<HWND>& handled) {
    Search search{&handled, {}};
    EnumWindows(CollectNewBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ProcessName(DWORD processId) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return {};
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    std::string name;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == processId) {
            name = e2e::Utf8(entry.szExeFile);
            break;
        }
    }
    CloseHandle(snapshot);
    return name;
}

std::string BoxJson(int index, const Box& box) {
    std::string buttons;
    for (const Button& button : box.buttons) {
        buttons += (buttons.empty() ? "" : ",") + std::string("{\"id\":") +
                   std::to_string(button.id) +
                   ",\"label\":" + e2e::JsonString(e2e::Utf8(button.label)) + "}";
    }
    return "{\"kind\":\"box\",\"index\":" + std::to_string(index) +
           ",\"time\":" + e2e::JsonString(e2e::UtcTimestamp()) +
           ",\"process\":" + e2e::JsonString(ProcessName(box.processId)) +
           ",\"caption\":" + e2e::JsonString(e2e::Utf8(box.caption)) +
           ",\"text\":" + e2e::JsonString(e2e::Utf8(box.text)) + ",\"buttons\":[" + buttons + "]";
}

void AwaitAcknowledgement(const Script& script, int index, const std::string& record) {
    const std::wstring stem = script.signalDir + L"\\box-" + std::to_wstring(index);
    e2e::AppendLine(stem + L".ready", record + "}");
    const DWORD start = GetTickCount();
    while (!e2e::FileExists(stem + L".ack") && GetTickCount() - start < 30000) {
        Sleep(20);
    }
}

bool HasButton(const Box& box, int id) {
    return std::any_of(box.buttons.begin(), box.buttons.end(),
                       [id](const Button& button) { return button.id == id; });
}

// The scripted button when the box has it; otherwise the box is closed with the first of OK,
// Cancel and No that it has, so that a wrong script fails the check instead of hanging the run.
int ChooseButton(const Box& box, const std::wstring& answer) {
    const int scripted = ButtonId(answer);
    if (scripted != 0 && HasButton(box, scripted)) {
        return scripted;
    }
    for (const int fallback : {IDOK, IDCANCEL, IDNO}) {
        if (HasButton(box, fallback)) {
            return fallback;
        }
    }
    return 0;
}

void Press(HWND box, int buttonId) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(GetDlgItem(box, buttonId), BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

void Answer(const Script& script, int index, const Box& box) {
    std::string record = BoxJson(index, box);
    if (!script.signalDir.empty()) {
        AwaitAcknowledgement(script, index, record);
    }
    const std::size_t slot = static_cast<std::size_t>(index - 1);
    const std::wstring answer = slot < script.answers.size() ? script.answers[slot] : L"";
    const int pressed = ChooseButton(box, answer);
    const bool asScripted = pressed != 0 && pressed == ButtonId(answer);
    record += ",\"answer\":" + e2e::JsonString(e2e::Utf8(answer)) +
              ",\"pressed\":" + std::to_string(pressed) +
              ",\"asScripted\":" + (asScripted ? "true" : "false");
    if (pressed != 0) {
        Press(box.window, pressed);
    }
    record += ",\"closed\":" + e2e::JsonString(e2e::UtcTimestamp()) + "}";
    e2e::AppendLine(script.log, record);
}

Script ReadScript() {
    const std::vector<std::wstring> args = e2e::Arguments();
    return Script{e2e::Option(args, L"--log", L"boxhelper.log"),
                  SplitAnswers(e2e::Option(args, L"--answers", L"")),
                  e2e::Option(args, L"--signal-dir", L""), e2e::Option(args, L"--stop-file", L""),
                  static_cast<DWORD>(std::stoul(e2e::Option(args, L"--timeout-ms", L"120000")))};
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const Script script = ReadScript();
    std::vector<HWND> handled;
    const DWORD start = GetTickCount();
    for (;;) {
        // Seen before the sweep, so a box shown just before the stop signal is still answered.
        const bool stopping = !script.stopFile.empty() && e2e::FileExists(script.stopFile);
        for (const HWND window : NewBoxes(handled)) {
            handled.push_back(window);
            Answer(script, static_cast<int>(handled.size()), ReadBox(window));
        }
        if (stopping) {
            e2e::AppendLine(script.log, "{\"kind\":\"end\",\"reason\":\"stopped\"}");
            return 0;
        }
        if (GetTickCount() - start > script.timeoutMs) {
            e2e::AppendLine(script.log, "{\"kind\":\"end\",\"reason\":\"timeout\"}");
            return 2;
        }
        Sleep(50);
    }
}
