#!/usr/bin/env bash
# Every test: unit and scenario tests on the simulated Windows (plain and sanitized), the Windows
# build, and the real updater end to end under Wine: the i686 product where this machine runs
# 32-bit code and has wine32, else the x86_64 vehicle under wine64 (scripts/wine-runtime).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
runtime="$(scripts/wine-runtime)"
echo "Wine runtime for the end-to-end tests: $runtime"

for preset in linux linux-asan $(scripts/wine-runtime --presets); do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
ctest --preset linux
ctest --preset linux-asan
status=0
ctest --test-dir build/linux -L 'e2e|fuzz' --output-on-failure || status=$?
# CTest names skipped tests without their reason; the driver logged it.
grep -ho 'scenario .*: SKIPPED, .*' build/linux/Testing/Temporary/LastTest.log || true
exit $status
