// The running Windows version as one line of text, and the 64-bit test derived from it.
#pragma once

#include <string>

extern bool IsWin64; // the version text contains " 64"; false until GetWinVersionText runs

std::string GetWinVersionText();
[[nodiscard]] bool GetWinVersionInfo(std::string& name, std::string& servicePack);
// Runs `command` through the command interpreter and returns its console output (ANSI).
std::string RunCommandCapture(const std::string& command);
