#!/usr/bin/env bash
# Makes docs/gallery/*.png and docs/gallery.md: every box of the updater in English and Russian,
# taken from the Wine end-to-end scenarios that show it (and check its texts), run on the product
# in a 64-bit prefix: natively, or in the test guest where this machine runs no 32-bit code.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

case "$(scripts/wine-runtime)" in
native* | "vehicle forced"*) ;;
*) scripts/guest/build-image ;;
esac
for preset in $(scripts/wine-runtime --presets); do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
exec python3 tests/e2e/showcase.py gallery --windows-build build/windows \
    --work "${ZELM_GALLERY_WORK:-build/gallery-wine}" --docs docs
