// zorvres OUT.res FILE: writes FILE as the resource "ZORV" of type "3BS", language 1049. A FILE
// that is not a sound bank is refused, so that no build carries one.
#include "ResFile.h"

#include "install/SoundBank.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: zorvres OUT.res FILE\n";
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary | std::ios::ate);
    const std::streamoff size = in.tellg();
    std::vector<std::uint8_t> data(size > 0 ? static_cast<std::size_t>(size) : 0);
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(data.data()), size) || data.empty()) {
        std::cerr << "zorvres: " << argv[2] << ": cannot read\n";
        return 1;
    }
    const SoundBankCheck bank = CheckSoundBank(data.data(), data.size());
    if (!bank.Ok()) {
        std::cerr << "zorvres: " << argv[2] << ": not a sound bank: " << bank.Error << "\n";
        return 1;
    }
    const std::vector<std::uint8_t> res = MakeResFile("3BS", "ZORV", kLangRussian, data);
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(res.data()), static_cast<std::streamsize>(res.size()));
    out.close();
    if (!out) {
        std::cerr << "zorvres: " << argv[1] << ": cannot write\n";
        return 1;
    }
    return 0;
}
