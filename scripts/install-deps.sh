#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent; run as root on Debian 12.
set -euo pipefail

packages=(
    cmake ninja-build g++ make git python3 ca-certificates
    libgtest-dev libgmock-dev libbenchmark-dev
    clang clang-format clang-tidy libclang-rt-14-dev valgrind
    g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
    wine wine32 xvfb xauth x11-utils imagemagick osslsigncode openssl
    sox libsox-fmt-mp3 lame mpg123 locales
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    need_update=1
fi
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
    apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
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
