// Writing a compiled resource file (.res) that holds one resource with a named type. windres
// cannot take a type such as "3BS" from a script, because it reads a leading digit as a number,
// but it converts a .res file to an object as it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint16_t kLangRussian = 0x0419; // language 1049

// The .res image: the 32-byte empty entry that opens every such file, then one entry whose type
// and name are the given upper-case ASCII strings, stored as UTF-16. Every entry is aligned on
// 4 bytes, as the format requires.
std::vector<std::uint8_t> MakeResFile(const std::string& type, const std::string& name,
                                      std::uint16_t language,
                                      const std::vector<std::uint8_t>& data);
