#!/usr/bin/env bash
# Every test: unit and scenario tests on the simulated Windows (plain and sanitized), the Windows
# build, and the shipped updater end to end under Wine: natively where this machine runs 32-bit
# code, else in the test guest, else the x86_64 vehicle (scripts/wine-runtime says which, and why).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
started=$SECONDS

# Wherever the product cannot run natively, the test guest is built (or found up to date) while
# the compilers run: debootstrap waits mostly on the network. A guest that cannot be built costs
# the product's proof, not the run: the vehicle runs instead, and says so.
image=
case "$(scripts/wine-runtime)" in
native* | "vehicle forced"*) ;;
*)
    mkdir -p build
    scripts/guest/build-image >build/guest-image.log 2>&1 &
    image=$!
    ;;
esac

for preset in linux linux-asan windows; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
ctest --preset linux
ctest --preset linux-asan
# The release script, in a clone of this checkout: its refusals, and releases unsigned and signed;
# and the fuzzers, while the test guest may still be in the making.
ctest --test-dir build/linux -L 'release|fuzz' --output-on-failure
echo "Builds, unit, release and fuzz tests: $((SECONDS - started)) s"

if [ -n "$image" ]; then
    if wait "$image"; then
        cat build/guest-image.log
    else
        cat build/guest-image.log
        echo "NOTE: the test guest could not be built (above); the end-to-end tests run the" \
            "x86_64 vehicle instead, and what only the 32-bit product shows is skipped."
    fi
    echo "Test guest ready after $((SECONDS - started)) s"
fi
runtime="$(scripts/wine-runtime)"
echo "Wine runtime for the end-to-end tests: $runtime"
if [ "${runtime%% *}" = vehicle ]; then
    cmake --preset windows-x64 >/dev/null
    cmake --build --preset windows-x64
fi

# The test guest runs three scenarios at once on its two processors; elsewhere one at a time.
# Each scenario runs once: a retry would turn a hang into a pass, and a hang is a finding (the
# driver records the hung program's backtraces, windows and screen before it kills it).
e2e_flags=(-j 1)
[ "${runtime%% *}" = guest ] && e2e_flags=(-j 3)
status=0
e2e_started=$SECONDS
ctest --test-dir build/linux -L e2e "${e2e_flags[@]}" --output-on-failure || status=$?
echo "End-to-end tests: $((SECONDS - e2e_started)) s on $runtime; in all $((SECONDS - started)) s"
# CTest names skipped tests without their reason; the driver logged it.
grep -ho 'scenario .*: SKIPPED, .*' build/linux/Testing/Temporary/LastTest.log || true

# The benchmark's part under Wine, one round, so that it cannot break unnoticed; its times are
# printed, never judged here.
bench_started=$SECONDS
scripts/bench.sh --wine-only 1 || status=$?
echo "The benchmark under Wine, one round: $((SECONDS - bench_started)) s"
exit $status
