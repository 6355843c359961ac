// boxdemo.exe for the Wine tests: shows the kinds of boxes the updater shows (ANSI texts in
// Windows-1251, language identifiers 0x0419, 0x0422 and 0x0409) and writes what each returned to
// the file named by its first argument, one JSON line per box.
#include "E2eSupport.h"

#include <string>

namespace {

struct DemoBox {
    const char* captionUtf8;
    const char* textUtf8;
    UINT style;
    WORD languageId;
};

constexpr UINT kQuestion = MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_TOPMOST;
constexpr UINT kError = MB_OK | MB_ICONERROR | MB_SERVICE_NOTIFICATION;

// Kept in step with the "box_demo" scenario of run_e2e.py, which checks every text.
constexpr DemoBox kBoxes[] = {
    {"Обновление программы \"Зелм\"", "Установить звуки?\r\nВторая строка: ёЁ №", kQuestion,
     0x0419},
    {"Оновлення", "Встановити звуки?", kQuestion, 0x0422},
    {"Zelm update", "There's no Zelm installed.\r\nPlease install the program first.", kError,
     0x0409},
};

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::vector<std::wstring> args = e2e::Arguments();
    if (args.empty()) {
        return 2;
    }
    for (const DemoBox& box : kBoxes) {
        const std::string caption = e2e::Utf8ToAnsi(box.captionUtf8, 1251);
        const std::string text = e2e::Utf8ToAnsi(box.textUtf8, 1251);
        const int result =
            MessageBoxExA(nullptr, text.c_str(), caption.c_str(), box.style, box.languageId);
        e2e::AppendLine(args[0], "{\"languageId\":" + std::to_string(box.languageId) +
                                     ",\"result\":" + std::to_string(result) + "}");
    }
    return 0;
}
