// What the Windows programs of the end-to-end tests share: UTF-8 logs, arguments, paths.
#pragma once

#include "os/win32/WindowsSupport.h"

#include <string>
#include <vector>

namespace e2e {

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);
std::string Utf8ToAnsi(const std::string& utf8, UINT codePage);

// A JSON string literal (quotes included) holding the given UTF-8 text.
std::string JsonString(const std::string& utf8);

// Appends one line (a newline is added) to a UTF-8 log; the file is opened and closed each time
// so that the driver can read it while the program runs.
bool AppendLine(const std::wstring& path, const std::string& line);

std::string UtcTimestamp();            // "2026-12-09T09:34:20.123Z"
std::vector<std::wstring> Arguments(); // without the program name
std::wstring ModuleFolder();           // ends in a backslash
bool FileExists(const std::wstring& path);
std::wstring ClassName(HWND window);
std::wstring WindowText(HWND window);

// The value after "--name" in the arguments, or the fallback.
std::wstring Option(const std::vector<std::wstring>& args, const wchar_t* name,
                    const std::wstring& fallback);
bool Flag(const std::vector<std::wstring>& args, const wchar_t* name);

} // namespace e2e
