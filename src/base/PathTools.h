// Path tools shared by the program context, the platform queries and the update sequence.
#pragma once

#include <cstdint>
#include <string>

// Folds the letters A-Z to lower case and leaves every other byte: how Windows compares the ASCII
// part of names, whatever the code page.
std::string AsciiLower(std::string text);

// Appends one backslash to a non-empty path that does not end in one.
void AddBackslash(std::string& path);

// Size in KiB of every file below the folder, or -1 when the path is empty or no folder. Links
// and junctions are followed; a folder reached twice, by any path, is counted once where the file
// system tells its identity, and every time where it does not (up to MAX_PATH-long paths).
std::int32_t FolderSize(const std::string& path);
