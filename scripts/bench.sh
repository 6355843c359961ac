#!/usr/bin/env bash
# Every figure of bench/README.md in one run (a few minutes): the Google benchmarks on the
# simulated Windows, the instruction count and heap of one quiet update, and the quiet update of
# the real ZelmSoundUpdate.exe under Wine against its floor, with peak memory.
#
#   scripts/bench.sh [rounds under Wine, default 20]
#
# Builds in build/perf (linux preset) and build/perf-win (windows preset, or build/perf-win-x64
# with the windows-x64 preset where the x86_64 vehicle runs); results, callgrind
# output and JSON files go to build/perf/bench-results/.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-20}"
scripts/install-deps.sh

linux_build=build/perf
windows_build=build/perf-win
results="$linux_build/bench-results"
benchmarks=(sha256_bench lang_bench install_file_bench folder_size_bench)

cmake --preset linux -B "$linux_build" >/dev/null
cmake --build "$linux_build" -j2 --target "${benchmarks[@]}" quiet_update_run
# The updater and the floor's programs for the runtime that scripts/wine-runtime chooses.
runtime="$(scripts/wine-runtime)"
echo "Wine runtime: $runtime"
if [ "${runtime%% *}" = win64 ]; then
    preset=windows-x64 windows_build="$windows_build-x64" mingw_cxx=x86_64-w64-mingw32-g++-win32
else
    preset=windows mingw_cxx=i686-w64-mingw32-g++-win32
fi
cmake --preset "$preset" -B "$windows_build" >/dev/null
cmake --build "$windows_build" -j2
mkdir -p "$results"

# The floor's trivial programs, built with the compiler and run time of that preset.
mingw=("$mingw_cxx" -Os -mwindows -static -static-libgcc -static-libstdc++
       -Wall -Wextra -Werror)
"${mingw[@]}" -o "$linux_build/bench/trivial.exe" bench/TrivialWin.cpp
"${mingw[@]}" -DZELM_TRIVIAL_LOADS_UPDATER_DLLS -o "$linux_build/bench/trivial-dlls.exe" \
    bench/TrivialWin.cpp -ladvapi32 -lshell32 -luser32

echo "== Google benchmarks on the simulated Windows =="
for bench in "${benchmarks[@]}"; do
    "$linux_build/bench/$bench" --benchmark_out="$results/$bench.json" \
        --benchmark_out_format=json
done

echo "== One quiet update on the simulated Windows: instructions (callgrind) and heap =="
valgrind --tool=callgrind --callgrind-out-file="$results/quiet_update.callgrind" \
    --toggle-collect='RunProgram()' "$linux_build/bench/quiet_update_run" \
    >"$results/quiet_update.valgrind.log" 2>&1
python3 bench/callgrind_report.py "$results/quiet_update.callgrind" \
    --json "$results/quiet_update.callgrind.json"
# The heap figures come from the program's own count of operator new; no valgrind needed.
"$linux_build/bench/quiet_update_run"

echo "== The quiet update of ZelmSoundUpdate.exe under Wine =="
python3 bench/wine_bench.py --windows-build build/perf-win --windows-x64-build build/perf-win-x64 \
    --work "$linux_build/bench-wine" \
    --trivial-exe "$linux_build/bench/trivial.exe" \
    --trivial-dlls-exe "$linux_build/bench/trivial-dlls.exe" \
    --runs "$rounds" --json "$results/wine.json"
