#!/usr/bin/env bash
# The main job: builds the updater and runs it under Wine in a throwaway prefix. A stand-in host
# is installed; an interactive update is answered Yes by a helper, then a quiet "modest runapp"
# update closes the running host, rewrites the sound bank and starts the host again. Prints what
# each step showed and did, with screenshots of the boxes; exits non-zero when a check failed.
# It runs on the fastest runtime here: the product natively where this machine runs 32-bit code,
# else the x86_64 vehicle; ZELM_WINE_RUNTIME=guest runs the product in the test guest
# (scripts/wine-runtime says which, and why).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

if [ "${ZELM_WINE_RUNTIME:-}" = guest ]; then
    scripts/guest/build-image
fi
for preset in $(scripts/wine-runtime --presets --quick); do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
# The booted template prefix is kept here and reused; the demonstration's prefix is made anew.
work="${ZELM_DEMO_WORK:-build/demo-wine}"
exec python3 tests/e2e/showcase.py demo --windows-build build/windows --work "$work"
