// zorvbank: inspects, extracts from and assembles sound-bank containers.
//
//   zorvbank inspect FILE
//   zorvbank extract FILE K > clip.mp3
//   zorvbank build OUT --counts A B C --byte4 X --version V --word W --trailer HEX CLIP...
//   zorvbank pad IN SIZE OUT
//
// Every fault is one line on standard error and a non-zero exit status.
#include "SilencePad.h"

#include "install/SoundBank.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kExitFault = 1;
constexpr int kExitUsage = 2;

using Bytes = std::vector<std::uint8_t>;

int Fail(const std::string& where, const std::string& what) {
    std::cerr << "zorvbank: " << where << ": " << what << '\n';
    return kExitFault;
}

int Usage() {
    std::cerr << "usage: zorvbank inspect FILE\n"
                 "       zorvbank extract FILE K\n"
                 "       zorvbank build OUT --counts A B C --byte4 X --version V --word W "
                 "--trailer HEX CLIP...\n"
                 "       zorvbank pad IN SIZE OUT\n";
    return kExitUsage;
}

bool ReadFile(const std::string& path, Bytes& bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in.tellg();
    if (!in || size < 0)
        return false;
    bytes.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), size);
    return static_cast<bool>(in);
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

// Decimal, or hexadecimal with "0x"; the whole text must be the number and at most `max`.
bool ParseNumber(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed > max)
        return false;
    value = parsed;
    return true;
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        text += (i == 0 ? "" : " ") + std::string(digits);
    }
    return text;
}

std::string ClipKind(const Bytes& bank, std::uint32_t offset, std::uint32_t length) {
    MpegFrameHeader header;
    if (!ParseMpegFrameHeader(bank.data() + offset, length, header))
        return "frame sync, invalid header " + Hex(bank.data() + offset, kMpegHeaderSize);
    return header.Describe();
}

void PrintGroups(const SoundBankLayout& layout) {
    for (std::size_t g = 0; g < kBankGroupCount; ++g) {
        const std::size_t first = layout.GroupFirstClip(g);
        std::cout << "group " << g << ": ";
        if (layout.GroupCounts[g] == 0)
            std::cout << "no clips\n";
        else
            std::cout << static_cast<unsigned>(layout.GroupCounts[g]) << " clips, " << first
                      << " to " << first + layout.GroupCounts[g] - 1 << ", starts at "
                      << layout.Offsets[first] << '\n';
    }
}

void PrintLayout(const Bytes& bank, const SoundBankLayout& layout) {
    const std::uint8_t* word = bank.data() + BankDataStart(layout.ClipCount()) - 4;
    std::cout << "size: " << bank.size() << " bytes\nmagic: zorv\n"
              << "byte 4: 0x" << Hex(&layout.Byte4, 1) << '\n'
              << "version: " << static_cast<unsigned>(layout.Version) << '\n'
              << "group counts: " << static_cast<unsigned>(layout.GroupCounts[0]) << ' '
              << static_cast<unsigned>(layout.GroupCounts[1]) << ' '
              << static_cast<unsigned>(layout.GroupCounts[2]) << " (" << layout.ClipCount()
              << " clips)\n"
              << "offset table: first " << layout.Offsets.front() << ", last "
              << layout.Offsets.back() << '\n'
              << "header word: " << layout.HeaderWord << " (" << Hex(word, 4) << ")\n"
              << "trailer: " << Hex(layout.Trailer.data(), kBankTrailerSize) << '\n';
    PrintGroups(layout);
    for (std::size_t k = 0; k < layout.ClipCount(); ++k)
        std::cout << "clip " << k << ": offset " << layout.Offsets[k] << ", length "
                  << layout.ClipLength(k) << ", "
                  << ClipKind(bank, layout.Offsets[k], layout.ClipLength(k)) << '\n';
}

// Reads and checks a bank; on a fault reports it and returns false.
bool LoadBank(const std::string& path, Bytes& bank, SoundBankCheck& check) {
    if (!ReadFile(path, bank)) {
        Fail(path, std::string("cannot read: ") + std::strerror(errno));
        return false;
    }
    check = CheckSoundBank(bank.data(), bank.size());
    if (!check.Ok())
        Fail(path, check.Error);
    return check.Ok();
}

int Inspect(const std::vector<std::string>& args) {
    if (args.size() != 1)
        return Usage();
    Bytes bank;
    SoundBankCheck check;
    if (!LoadBank(args[0], bank, check))
        return kExitFault;
    PrintLayout(bank, check.Layout);
    std::cout << "all checks passed\n";
    return 0;
}

int Extract(const std::vector<std::string>& args) {
    if (args.size() != 2)
        return Usage();
    Bytes bank;
    SoundBankCheck check;
    if (!LoadBank(args[0], bank, check))
        return kExitFault;
    unsigned long clip = 0;
    if (!ParseNumber(args[1], check.Layout.ClipCount() - 1, clip))
        return Fail(args[0], "no clip " + args[1] + " among clips 0 to " +
                                 std::to_string(check.Layout.ClipCount() - 1));
    const auto begin = bank.begin() + check.Layout.Offsets[clip];
    std::cout.write(reinterpret_cast<const char*>(&*begin), check.Layout.ClipLength(clip));
    std::cout.flush();
    return std::cout ? 0 : Fail("standard output", "write failed");
}

bool ParseTrailer(const std::string& hex, std::array<std::uint8_t, kBankTrailerSize>& trailer) {
    if (hex.size() != 2 * kBankTrailerSize)
        return false;
    for (std::size_t i = 0; i < kBankTrailerSize; ++i) {
        unsigned long byte = 0;
        if (!ParseNumber("0x" + hex.substr(2 * i, 2), 0xFF, byte))
            return false;
        trailer[i] = static_cast<std::uint8_t>(byte);
    }
    return true;
}

// Consumes the options of "build"; false on an unknown option or a value out of range.
bool ParseBuildOption(const std::vector<std::string>& args, std::size_t& i,
                      SoundBankFields& fields) {
    const std::string& option = args[i];
    const std::size_t values = option == "--counts" ? kBankGroupCount : 1;
    if (i + values >= args.size())
        return false;
    unsigned long value = 0;
    bool ok = true;
    if (option == "--counts") {
        for (std::size_t g = 0; g < kBankGroupCount && ok; ++g) {
            ok = ParseNumber(args[i + 1 + g], 0xFF, value);
            fields.GroupCounts[g] = static_cast<std::uint8_t>(value);
        }
    } else if (option == "--byte4" || option == "--version") {
        ok = ParseNumber(args[i + 1], 0xFF, value);
        (option == "--byte4" ? fields.Byte4 : fields.Version) = static_cast<std::uint8_t>(value);
    } else if (option == "--word") {
        ok = ParseNumber(args[i + 1], 0xFFFFFFFF, value);
        fields.HeaderWord = static_cast<std::uint32_t>(value);
    } else {
        ok = option == "--trailer" && ParseTrailer(args[i + 1], fields.Trailer);
    }
    i += values + 1;
    return ok;
}

int Build(const std::vector<std::string>& args) {
    if (args.empty())
        return Usage();
    SoundBankFields fields;
    std::vector<Bytes> clips;
    for (std::size_t i = 1; i < args.size();) {
        if (args[i].compare(0, 2, "--") == 0) {
            const std::string option = args[i];
            if (!ParseBuildOption(args, i, fields))
                return Fail(option, "unknown option, missing value or value out of range");
            continue;
        }
        clips.emplace_back();
        if (!ReadFile(args[i], clips.back()))
            return Fail(args[i], std::string("cannot read: ") + std::strerror(errno));
        ++i;
    }
    std::string error;
    const Bytes bank = BuildSoundBank(fields, clips, error);
    if (bank.empty())
        return Fail(args[0], error);
    return WriteFile(args[0], bank) ? 0 : Fail(args[0], "cannot write");
}

int Pad(const std::vector<std::string>& args) {
    unsigned long size = 0;
    if (args.size() != 3 || !ParseNumber(args[1], kBankMaxOffset, size))
        return Usage();
    Bytes clip;
    if (!ReadFile(args[0], clip))
        return Fail(args[0], std::string("cannot read: ") + std::strerror(errno));
    std::string error;
    if (!PadWithSilentFrames(clip, size, error))
        return Fail(args[0], error);
    return WriteFile(args[2], clip) ? 0 : Fail(args[2], "cannot write");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "inspect")
        return Inspect(args);
    if (command == "extract")
        return Extract(args);
    if (command == "build")
        return Build(args);
    if (command == "pad")
        return Pad(args);
    return Usage();
}
