#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent; run as root on Debian 12.
#
# The product is built everywhere, so the i686 mingw is always installed. Wine comes in one of
# three forms (see scripts/wine-runtime): wine32 and wine64 where the machine runs 32-bit x86 code;
# else, or where wine32 cannot be installed, qemu and debootstrap for the test guest, which has
# its own Wine, and wine64 with the x86_64 mingw for the demonstration and for the test vehicle,
# which runs where no guest can be built.
set -euo pipefail
cd "$(dirname "$0")/.."

base=(
    cmake ninja-build g++ make git python3 ca-certificates
    libgtest-dev libgmock-dev libbenchmark-dev
    clang clang-format clang-tidy libclang-rt-14-dev valgrind
    g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
    xvfb xauth x11-utils imagemagick osslsigncode openssl
    sox libsox-fmt-mp3 lame mpg123 locales nsis
)
pieces32=(wine wine32:i386 wine64)
pieces64=(wine wine64 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64)
pieces_guest=(qemu-system-x86 debootstrap e2fsprogs)

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# A mirror in the middle of a sync can fail one index; apt keeps the lists it had, and the packages
# that can still be matched install from those.
lists_fresh=
update_lists() {
    [ -n "$lists_fresh" ] && return
    lists_fresh=1
    apt-get update -qq && return
    echo "apt-get update failed; trying once more" >&2
    sleep 5
    apt-get update -qq ||
        echo "warning: apt-get update failed twice; going on with the package lists apt has" >&2
}

# Installs what is missing of "$@". On failure, names each package that apt cannot install, with
# apt's own reason, and returns 1.
install() {
    local missing=() p failed=0 log
    for p; do installed "$p" || missing+=("$p"); done
    [ ${#missing[@]} -eq 0 ] && return 0
    update_lists
    echo "Installing: ${missing[*]}"
    log="$(mktemp)"
    if DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >"$log" 2>&1; then
        rm -f "$log"
        return 0
    fi
    for p in "${missing[@]}"; do
        installed "$p" && continue
        DEBIAN_FRONTEND=noninteractive apt-get install -y "$p" >"$log" 2>&1 && continue
        echo "cannot install $p:" >&2
        grep -E '^E:|Depends:' "$log" | head -6 | sed 's/^/    /' >&2
        failed=1
    done
    rm -f "$log"
    return $failed
}

install "${base[@]}" || exit 1

forced="${ZELM_WINE_RUNTIME:-}"
case "$forced" in
"" | native | guest | vehicle) ;;
*)
    echo "ZELM_WINE_RUNTIME is '$forced'; it must be native, guest or vehicle" >&2
    exit 1
    ;;
esac
want64=
if [ "$forced" = vehicle ]; then
    want64=1
elif [ "$forced" = guest ] || ! scripts/wine-runtime --runs-x86-32; then
    echo "Installing what the test guest needs, and wine64 with the x86_64 mingw."
    want64=1
    install "${pieces_guest[@]}" || exit 1
else
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        lists_fresh=
    fi
    if ! install "${pieces32[@]}"; then
        if [ "$forced" = native ]; then
            echo "ZELM_WINE_RUNTIME=native, but wine32 cannot be installed" >&2
            exit 1
        fi
        echo "warning: wine32 cannot be installed; installing the test guest's tools, wine64" \
            "and the x86_64 mingw" >&2
        want64=1
        install "${pieces_guest[@]}" || exit 1
    fi
fi
if [ -n "$want64" ]; then
    install "${pieces64[@]}" || exit 1
fi

# The end-to-end tests run Wine under English and Russian user locales.
for loc in en_US ru_RU; do
    if ! locale -a | grep -qix "$loc.utf-\?8"; then
        sed -i "s/^# *\($loc.UTF-8 UTF-8\)/\1/" /etc/locale.gen
        grep -qx "$loc.UTF-8 UTF-8" /etc/locale.gen || echo "$loc.UTF-8 UTF-8" >>/etc/locale.gen
        need_locale_gen=1
    fi
done
if [ -n "${need_locale_gen:-}" ]; then
    locale-gen >/dev/null
fi
