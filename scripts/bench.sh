#!/usr/bin/env bash
# Every figure of bench/README.md in one run (a few minutes): the Google benchmarks on the
# simulated Windows, the instruction count and heap of one quiet update, and the quiet update of
# the real ZelmSoundUpdate.exe under Wine against its floor and an NSIS installer, on the Windows 10
# and the Windows 7 path, with peak memory.
#
#   scripts/bench.sh [rounds under Wine, default 20]
#   scripts/bench.sh --wine-only ROUNDS   only the part under Wine (scripts/test.sh runs 1 round)
#
# Builds in build/perf (linux preset) and build/perf-win (windows preset, or build/perf-win-x64
# with the windows-x64 preset where the x86_64 vehicle runs), the comparison's Windows programs in
# build/perf/bench/windows (its compiler, and makensis for the NSIS installer); results, callgrind
# output and JSON files go to build/perf/bench-results/.
set -euo pipefail
cd "$(dirname "$0")/.."
wine_only=
if [ "${1:-}" = --wine-only ]; then
    wine_only=1
    shift
fi
rounds="${1:-20}"
scripts/install-deps.sh

linux_build=build/perf
windows_build=build/perf-win
results="$linux_build/bench-results"
benchmarks=(sha256_bench lang_bench install_file_bench folder_size_bench)

if [ -z "$wine_only" ]; then
    cmake --preset linux -B "$linux_build" >/dev/null
    cmake --build "$linux_build" -j2 --target "${benchmarks[@]}" quiet_update_run
fi
# The updater and the Windows programs of the comparison for the runtime that scripts/wine-runtime
# chooses, built with the compiler and run time of that preset.
runtime="$(scripts/wine-runtime --quick)"
echo "Wine runtime: $runtime"
if [ "${runtime%% *}" = vehicle ]; then
    preset=windows-x64 windows_build="$windows_build-x64" mingw=x86_64-w64-mingw32
    nsis_target=amd64-unicode
else
    preset=windows mingw=i686-w64-mingw32 nsis_target=x86-unicode
fi
cmake --preset "$preset" -B "$windows_build" >/dev/null
cmake --build "$windows_build" -j2
mkdir -p "$results"

programs="$linux_build/bench/windows"
mkdir -p "$programs"
cxx=("$mingw-g++-win32" -Os -static -static-libgcc -static-libstdc++ -Wall -Wextra -Werror)
"${cxx[@]}" -o "$programs/benchrunner.exe" bench/BenchRunner.cpp
"${cxx[@]}" -mwindows -o "$programs/trivial.exe" bench/TrivialWin.cpp
"${cxx[@]}" -mwindows -DZELM_TRIVIAL_LOADS_UPDATER_DLLS -o "$programs/trivial-dlls.exe" \
    bench/TrivialWin.cpp -ladvapi32 -lshell32 -luser32
# The floor carries the bank resource of the updater's own build, and its sections are
# page-aligned in the file as the updater's are, so that Wine maps both the same way.
"$mingw-windres" -J res -O coff -i "$windows_build/res/zorv.res" -o "$programs/zorv-res.o"
"${cxx[@]}" -mwindows -Wl,--file-alignment,4096 -o "$programs/floor.exe" bench/FloorWin.cpp \
    "$programs/zorv-res.o"
makensis -V2 -DTARGET="$nsis_target" -DBANK="$PWD/res/zorv.3bs" \
    -DBANK_KIB="$(($(stat -c %s res/zorv.3bs) / 1024))" -DOUTFILE="$PWD/$programs/dropbank.exe" \
    bench/nsis/DropBank.nsi

if [ -z "$wine_only" ]; then
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
fi

echo "== The quiet update of ZelmSoundUpdate.exe under Wine, against its floor and NSIS =="
python3 bench/wine_bench.py --windows-build build/perf-win --windows-x64-build build/perf-win-x64 \
    --work "$linux_build/bench-wine" --programs "$programs" --runs "$rounds" \
    --json "$results/wine.json"
