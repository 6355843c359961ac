#!/usr/bin/env bash
# Every test: unit and scenario tests on the simulated Windows (plain and sanitized), the Windows
# build, and the shipped updater end to end under Wine: natively where this machine runs 32-bit
# code, else in the test guest, else the x86_64 vehicle (scripts/wine-runtime says which, and why).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# The test guest is built (or found up to date) wherever the product cannot run natively. A guest
# that cannot be built costs the product's proof, not the run: the vehicle runs, and says so.
case "$(scripts/wine-runtime)" in
native* | "vehicle forced"*) ;;
*)
    started=$SECONDS
    if scripts/guest/build-image; then
        echo "Test guest ready in $((SECONDS - started)) s"
    else
        echo "NOTE: the test guest could not be built (above); the end-to-end tests run the" \
            "x86_64 vehicle instead, and what only the 32-bit product shows is skipped."
    fi
    ;;
esac
runtime="$(scripts/wine-runtime)"
echo "Wine runtime for the end-to-end tests: $runtime"

for preset in linux linux-asan $(scripts/wine-runtime --presets); do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
ctest --preset linux
ctest --preset linux-asan
# In the guest two scenarios run at once, one on each processor; elsewhere one at a time.
jobs=1
[ "${runtime%% *}" = guest ] && jobs=2
status=0
started=$SECONDS
ctest --test-dir build/linux -L 'e2e|fuzz' -j "$jobs" --output-on-failure || status=$?
echo "End-to-end and fuzz tests: $((SECONDS - started)) s on $runtime"
# CTest names skipped tests without their reason; the driver logged it.
grep -ho 'scenario .*: SKIPPED, .*' build/linux/Testing/Temporary/LastTest.log || true
exit $status
