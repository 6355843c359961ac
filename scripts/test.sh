#!/usr/bin/env bash
# Every test: unit and scenario tests on the simulated Windows (plain and sanitized), the Windows
# build, and the real updater end to end under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

for preset in linux linux-asan windows; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
ctest --preset linux
ctest --preset linux-asan
ctest --test-dir build/linux -L 'e2e|fuzz' --output-on-failure
