// The bytes the tests and benchmarks install: the real sound bank when it has been built into
// res/, otherwise a synthetic bank of the same size with the same header.
#pragma once

#include "support/HostMachine.h"

#include <cstddef>
#include <string>

inline std::string SynthesizeBank(std::size_t size) {
    std::string bank = "zorv\x02\x05";
    bank.reserve(size);
    while (bank.size() < size) {
        bank.push_back(static_cast<char>((bank.size() * 131) % 251));
    }
    return bank;
}

inline const std::string& InstallTestBank() {
    static const std::string bank = [] {
        std::string real = sim_tests::ReadWholeFile(ZELM_SOURCE_DIR "/res/zorv.3bs");
        return real.empty() ? SynthesizeBank(5458724) : real;
    }();
    return bank;
}
