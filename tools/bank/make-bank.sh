#!/bin/bash
# Makes the embedded sound bank: 46 alarm clips synthesized with sox, encoded with lame, each
# padded with silent MPEG frames to its place, assembled with `zorvbank build`.
#
#   tools/bank/make-bank.sh OUT
#
# Reproducible: sox runs in repeatable mode (fixed seeds for noise and dither) and every other
# parameter is fixed below. Made with SoX v14.4.2 and LAME 3.100 (Debian 12); other versions may
# encode differently. Set ZORVBANK to a built zorvbank to skip building one.
set -euo pipefail

out=$(realpath -m "${1:?usage: make-bank.sh OUT}")
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ -z "${ZORVBANK:-}" ]]; then
    cmake --preset linux -B "$root/build/bank-tool" >/dev/null
    cmake --build "$root/build/bank-tool" --target zorvbank >/dev/null
    ZORVBANK=$root/build/bank-tool/tools/bank/zorvbank
fi

# Where the three groups of clips start and where the last clip ends.
group_starts=(154 2219772 3568761)
data_end=5458720
group_counts=(17 13 16)

SOX=(sox -R -V1)

# --- Sound patterns: each writes one period of an alarm to $1 at rate $2, channels $3. ---

# beep FILE RATE CH FREQ ON OFF COUNT PAUSE WAVE: COUNT tones of ON seconds, then PAUSE.
beep() {
    local f=$1 r=$2 c=$3 freq=$4 on=$5 off=$6 count=$7 pause=$8 wave=$9
    "${SOX[@]}" -n -r "$r" -c "$c" "$work/tone.wav" synth "$on" "$wave" "$freq" \
        fade h 0.004 "$on" 0.004 vol 0.5 pad 0 "$off"
    "${SOX[@]}" "$work/tone.wav" "$f" repeat $((count - 1)) pad 0 "$pause"
}

# chime FILE RATE CH FREQ LENGTH: a struck metal bar, partials decaying, with some room.
chime() {
    local f=$1 r=$2 c=$3 freq=$4 len=$5
    "${SOX[@]}" -n -r "$r" -c "$c" "$f" synth "$len" sine "$freq" sine mix "$((freq * 276 / 100))" \
        sine mix "$((freq * 540 / 100))" fade l 0.002 "$len" "$len" reverb 40 norm -3
}

# bell FILE RATE CH FREQ STRIKES: an alarm-clock bell, a clapper hammering two bell partials.
bell() {
    local f=$1 r=$2 c=$3 freq=$4 strikes=$5
    "${SOX[@]}" -n -r "$r" -c "$c" "$work/strike.wav" synth 0.06 sine "$freq" \
        sine mix "$((freq * 240 / 100))" sine mix "$((freq * 300 / 100))" \
        square amod 25 fade l 0.001 0.06 0.05 vol 0.7
    "${SOX[@]}" "$work/strike.wav" "$f" repeat $((strikes - 1)) pad 0 0.6 norm -2
}

# rising FILE RATE CH WAVE FROM TO LENGTH: a tone sweeping up, an alarm that grows urgent.
rising() {
    local f=$1 r=$2 c=$3 wave=$4 from=$5 to=$6 len=$7
    "${SOX[@]}" -n -r "$r" -c "$c" "$f" synth "$len" "$wave" "$from/$to" \
        fade t 0.5 "$len" 0.05 vol 0.5 pad 0 0.4
}

# siren FILE RATE CH LOW HIGH: one up-and-down cycle.
siren() {
    local f=$1 r=$2 c=$3 low=$4 high=$5
    "${SOX[@]}" -n -r "$r" -c "$c" "$work/up.wav" synth 0.7 sine "$low:$high" vol 0.5
    "${SOX[@]}" -n -r "$r" -c "$c" "$work/down.wav" synth 0.7 sine "$high:$low" vol 0.5
    "${SOX[@]}" "$work/up.wav" "$work/down.wav" "$f"
}

# melody FILE RATE CH WAVE NOTE...: notes in semitones from A440 ("r" rests), 0.25 s each.
melody() {
    local f=$1 r=$2 c=$3 wave=$4
    shift 4
    local parts=() i=0 note
    for note in "$@"; do
        local part=$work/note$i.wav
        if [[ $note == r ]]; then
            "${SOX[@]}" -n -r "$r" -c "$c" "$part" trim 0 0.25
        else
            "${SOX[@]}" -n -r "$r" -c "$c" "$part" synth 0.25 "$wave" "%$note" \
                fade q 0.01 0.25 0.12 vol 0.5
        fi
        parts+=("$part")
        i=$((i + 1))
    done
    "${SOX[@]}" "${parts[@]}" "$work/line.wav"
    "${SOX[@]}" "$work/line.wav" "$f" reverb 25 pad 0 0.5 norm -3
}

# chirp FILE RATE CH: bird-like quick up-sweeps over a faint rustle of noise.
chirp() {
    local f=$1 r=$2 c=$3
    "${SOX[@]}" -n -r "$r" -c "$c" "$work/tweet.wav" synth 0.09 sine 2500/4200 \
        fade q 0.01 0.09 0.03 vol 0.5 pad 0 0.06
    "${SOX[@]}" -n -r "$r" -c "$c" "$work/rustle.wav" synth 1.5 pinknoise vol 0.02
    "${SOX[@]}" "$work/tweet.wav" "$work/tweets.wav" repeat 3 pad 0 0.6
    "${SOX[@]}" -m "$work/tweets.wav" "$work/rustle.wav" "$f" norm -3
}

# --- The clips, in bank order: pattern, arguments; then sample rate, channels, kbit/s. ---
# Rates 44100 (MPEG-1), 22050 (MPEG-2) and 11025 (MPEG-2.5) are used because their frame sizes
# can be combined to fill any gap of a few frames exactly.
clips=(
    # group 0: beeps and digital alarms
    "beep 1000 0.10 0.10 4 0.6 sine|44100 2 128"
    "beep 2000 0.08 0.08 2 0.8 square|44100 1 112"
    "beep 880 0.25 0.15 3 1.0 sine|44100 2 160"
    "beep 1500 0.05 0.05 8 0.7 square|22050 1 64"
    "beep 660 0.40 0.20 2 1.2 triangle|44100 2 128"
    "beep 3000 0.06 0.06 5 0.5 sine|44100 2 96"
    "beep 1200 0.15 0.10 4 0.9 sawtooth|22050 2 80"
    "beep 440 0.50 0.50 1 0.0 square|44100 1 128"
    "beep 2400 0.10 0.05 6 1.0 triangle|44100 2 112"
    "beep 1760 0.12 0.12 3 0.4 sine|22050 1 56"
    "beep 990 0.20 0.05 2 0.6 square|44100 2 128"
    "beep 1320 0.07 0.07 10 1.5 sine|44100 2 160"
    "beep 520 0.30 0.30 2 0.8 sawtooth|11025 1 32"
    "beep 2750 0.04 0.04 4 0.3 square|44100 1 96"
    "beep 780 0.18 0.12 5 1.1 triangle|44100 2 128"
    "beep 1900 0.09 0.03 3 0.5 sine|22050 2 64"
    "beep 1100 0.60 0.40 1 0.0 sine|44100 2 112"
    # group 1: chimes and melodies
    "chime 880 3|44100 2 128"
    "melody sine 3 7 10 15 r 10 15|44100 2 128"
    "chime 1320 2|44100 2 112"
    "melody triangle 0 4 7 12 7 4 0 r|22050 2 64"
    "chime 660 4|44100 2 160"
    "melody pluck 5 5 9 12 r 12 9 5|44100 2 128"
    "chime 1046 3|22050 1 48"
    "melody sine 12 11 9 7 5 4 2 0|44100 2 96"
    "chime 587 5|44100 2 128"
    "melody square -5 0 4 7 4 0 -5 r|11025 1 32"
    "chime 1568 2|44100 1 112"
    "melody triangle 7 7 7 3 10 7 3 10 7|44100 2 128"
    "chime 784 3|22050 2 80"
    # group 2: bells, rising tones, sirens, birds
    "bell 1200 12|44100 2 128"
    "rising sine 300 1500 3|44100 2 112"
    "bell 900 20|44100 2 160"
    "siren 600 1400|22050 1 64"
    "rising square 200 800 2|44100 1 96"
    "chirp|44100 2 128"
    "bell 1500 8|22050 2 80"
    "rising triangle 500 2500 4|44100 2 128"
    "siren 800 1800|44100 2 112"
    "bell 700 16|44100 1 128"
    "chirp|22050 1 56"
    "rising sawtooth 250 1000 2.5|44100 2 160"
    "bell 1100 24|11025 1 32"
    "siren 500 1000|44100 2 128"
    "rising sine 1000 3000 1.5|22050 2 64"
    "bell 1300 10|44100 2 112"
)

# Sizes of the clips in one group: its span shared out evenly, the remainder to the first ones.
group_sizes() {
    local span=$1 count=$2 k
    for ((k = 0; k < count; k++)); do
        echo $((span / count + (k < span % count ? 1 : 0)))
    done
}

# make_clip INDEX SIZE: synthesizes, encodes and pads clip INDEX to exactly SIZE bytes.
make_clip() {
    local index=$1 size=$2
    local clip=${clips[$index]} pattern audio rate channels kbps
    IFS='|' read -r pattern audio <<<"$clip"
    read -r rate channels kbps <<<"$audio"
    local kind=${pattern%% *} args=${pattern#* }
    [[ $kind == "$pattern" ]] && args=
    # shellcheck disable=SC2086 # the arguments are words by design
    $kind "$work/period.wav" "$rate" "$channels" $args
    # Aim some 3 kB short of the size: every gap from 2.7 kB on can be filled exactly with
    # silent frames of the same rate.
    local seconds repeats
    seconds=$(awk -v s="$size" -v k="$kbps" -v r="$rate" 'BEGIN {
        frame = k * 125 * (r == 44100 ? 1152 : 576) / r
        printf "%.4f", (s - 3 * frame - 3000) / (k * 125) }')
    repeats=$(awk -v s="$seconds" -v p="$(soxi -D "$work/period.wav")" \
        'BEGIN { print int(s / p) + 1 }')
    "${SOX[@]}" "$work/period.wav" "$work/long.wav" repeat "$repeats" trim 0 "$seconds"
    local mode=j
    [[ $channels == 1 ]] && mode=m
    lame --quiet -t --noreplaygain --cbr -b "$kbps" -m "$mode" \
        --resample "$(awk -v r="$rate" 'BEGIN { print r / 1000 }')" \
        "$work/long.wav" "$work/clip.mp3"
    "$ZORVBANK" pad "$work/clip.mp3" "$size" "$work/clip$index.mp3"
}

index=0
for group in 0 1 2; do
    start=${group_starts[$group]}
    end=$([[ $group -lt 2 ]] && echo "${group_starts[$((group + 1))]}" || echo $data_end)
    for size in $(group_sizes $((end - start)) "${group_counts[$group]}"); do
        make_clip "$index" "$size"
        index=$((index + 1))
    done
done

clip_files=()
for ((k = 0; k < index; k++)); do clip_files+=("$work/clip$k.mp3"); done
"$ZORVBANK" build "$out" --counts "${group_counts[@]}" --byte4 0x02 --version 5 \
    --word 1181676 --trailer 5A4F5256 "${clip_files[@]}"
"$ZORVBANK" inspect "$out" >/dev/null
