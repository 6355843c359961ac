// Writing a file that travels inside the updater's executable as a resource.
#pragma once

#include "os/os.h"

#include <cstdint>
#include <string>

// Writes the resource named `baseName` of type `ext` to `targetPath`; reports its own failure
// with the bilingual "Can't install file " box and returns nothing.
void InstallFile(const std::string& baseName, const std::string& ext,
                 const std::string& targetPath);

// Version byte (offset 5) of an installed sound bank opened by the caller; 0 when the file is
// too short to hold it.
std::int32_t ReadBankVersion(os::HANDLE file);
