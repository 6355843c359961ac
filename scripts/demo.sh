#!/usr/bin/env bash
# The main job: builds the updater and runs it under Wine, printing what it did.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset windows >/dev/null
cmake --build --preset windows
export WINEPREFIX="${WINEPREFIX:-$(mktemp -d)/wine}" WINEDEBUG=-all
wineboot -i >/dev/null 2>&1
set +e
wine build/windows/ZelmSoundUpdate.exe
code=$?
set -e
echo "ZelmSoundUpdate.exe ran under Wine (prefix $WINEPREFIX) and exited with code $code"
exit "$code"
