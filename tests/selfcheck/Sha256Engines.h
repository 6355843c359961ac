// Runs a test once on each SHA-256 engine, so that both are held to the same digests. Only the
// SHA-extensions run may be skipped, and only where the processor has no SHA extensions; any
// other engine that cannot be chosen fails the test.
#pragma once

#include "install/Sha256.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

inline const char* NameOf(Sha256Engine engine) {
    return engine == Sha256Engine::Portable ? "Portable" : "ShaExtensions";
}

// For gtest's messages.
inline void PrintTo(Sha256Engine engine, std::ostream* out) {
    *out << NameOf(engine);
}

class OnEachSha256Engine : public ::testing::TestWithParam<Sha256Engine> {
protected:
    void SetUp() override {
        if (GetParam() == Sha256Engine::ShaExtensions &&
            FastestSha256Engine() != Sha256Engine::ShaExtensions) {
            GTEST_SKIP() << "this processor has no SHA extensions";
        }
        ASSERT_TRUE(UseSha256Engine(GetParam()));
    }
    void TearDown() override { UseSha256Engine(FastestSha256Engine()); }
};

inline std::string Sha256EngineName(const ::testing::TestParamInfo<Sha256Engine>& info) {
    return NameOf(info.param);
}

#define ZELM_ON_EACH_SHA256_ENGINE(suite)                                                          \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        Engines, suite, ::testing::Values(Sha256Engine::Portable, Sha256Engine::ShaExtensions),    \
        Sha256EngineName)
