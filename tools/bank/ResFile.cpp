#include "ResFile.h"

namespace {

constexpr std::uint16_t kMoveablePure = 0x0030; // the flags resource compilers give user data
constexpr std::size_t kAlignment = 4;

void Append16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void Append32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Append16(out, value & 0xFFFF);
    Append16(out, value >> 16);
}

void AlignTo4(std::vector<std::uint8_t>& out) {
    while (out.size() % kAlignment != 0)
        out.push_back(0);
}

// TYPE or NAME field: a zero-terminated UTF-16 string.
void AppendNameString(std::vector<std::uint8_t>& out, const std::string& text) {
    for (char c : text)
        Append16(out, static_cast<std::uint8_t>(c));
    Append16(out, 0);
}

// TYPE and NAME, padding, and the fixed fields that follow them.
std::vector<std::uint8_t> HeaderTail(const std::string& type, const std::string& name,
                                     std::uint16_t flags, std::uint16_t language) {
    std::vector<std::uint8_t> tail;
    if (type.empty()) { // the empty entry: ordinal 0 for both
        Append32(tail, 0x0000FFFF);
        Append32(tail, 0x0000FFFF);
    } else {
        AppendNameString(tail, type);
        AppendNameString(tail, name);
    }
    AlignTo4(tail);
    Append32(tail, 0); // DataVersion
    Append16(tail, flags);
    Append16(tail, language);
    Append32(tail, 0); // Version
    Append32(tail, 0); // Characteristics
    return tail;
}

void AppendEntry(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& headerTail,
                 const std::vector<std::uint8_t>& data) {
    Append32(out, static_cast<std::uint32_t>(data.size()));
    Append32(out, static_cast<std::uint32_t>(2 * sizeof(std::uint32_t) + headerTail.size()));
    out.insert(out.end(), headerTail.begin(), headerTail.end());
    out.insert(out.end(), data.begin(), data.end());
    AlignTo4(out);
}

} // namespace

std::vector<std::uint8_t> MakeResFile(const std::string& type, const std::string& name,
                                      std::uint16_t language,
                                      const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> res;
    AppendEntry(res, HeaderTail("", "", 0, 0), {});
    AppendEntry(res, HeaderTail(type, name, kMoveablePure, language), data);
    return res;
}
