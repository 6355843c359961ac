#!/usr/bin/env bash
# A release of ZelmSoundUpdate.exe in one command: the windows preset built in a fresh folder from
# the committed tree, the built file checked, built a second time and compared byte for byte,
# signed when given a key, and only then written to dist/.
#
#   scripts/release.sh [--out DIR] [--allow-dirty] [--smoke]
#                      [--key KEY --cert CERT | --pkcs12 FILE] [--password-file FILE]
#
#   --out DIR            where the release goes, default dist/; it is replaced only by a complete
#                        release, and a refused release leaves it as it was
#   --allow-dirty        build although tracked files have uncommitted changes (release.txt says so)
#   --key KEY --cert CERT
#                        sign with this PEM private key and its PEM certificate (chain)
#   --pkcs12 FILE        sign with the key and certificates of this PKCS#12 file
#   --password-file FILE the password of the PKCS#12 file or of an encrypted key, on its first
#                        line; without it, the environment variable ZELM_SIGN_PASSWORD. Never an
#                        argument: other users of the machine can read arguments.
#   --smoke              also run an interactive and a quiet update of the file that ships, end to
#                        end under Wine (the e2e scenario "demo")
#
# dist/ then holds ZelmSoundUpdate.exe, SHA256SUMS and release.txt (commit, bank, digest,
# compiler, every check and its result, signed or not). Builds go to build/release/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

fail() {
    echo "release: REFUSED: $*" >&2
    exit 1
}

out=dist
allow_dirty=false
smoke=false
key=""
cert=""
pkcs12=""
password_file=""
while [ $# -gt 0 ]; do
    case "$1" in
    --out | --key | --cert | --pkcs12 | --password-file)
        [ $# -ge 2 ] || fail "$1 needs a value"
        case "$1" in
        --out) out="$2" ;;
        --key) key="$2" ;;
        --cert) cert="$2" ;;
        --pkcs12) pkcs12="$2" ;;
        --password-file) password_file="$2" ;;
        esac
        shift 2
        ;;
    --allow-dirty) allow_dirty=true && shift ;;
    --smoke) smoke=true && shift ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' && exit 0 ;;
    *) fail "unknown argument '$1' (see --help)" ;;
    esac
done

# --- What is released, and with what it is signed: all settled before anything is built. ---

if [ -n "$key$cert" ] && { [ -z "$key" ] || [ -z "$cert" ]; }; then
    fail "--key and --cert go together"
fi
if [ -n "$key" ] && [ -n "$pkcs12" ]; then
    fail "sign with --key and --cert or with --pkcs12, not both"
fi
for file in "$key" "$cert" "$pkcs12" "$password_file"; do
    [ -z "$file" ] || [ -r "$file" ] || fail "cannot read $file"
done
[ -z "$password_file" ] || [ -n "$key$pkcs12" ] || fail "--password-file without a key to sign with"
# The smoke test runs the very file that ships: the x86_64 vehicle would prove another one.
if $smoke; then
    case "$(scripts/wine-runtime)" in
    native* | guest*) ;;
    *) fail "--smoke needs Wine that runs the 32-bit product (natively, or in the test guest of" \
        "scripts/guest/build-image); here: $(scripts/wine-runtime)" ;;
    esac
fi

git rev-parse --verify --quiet HEAD >/dev/null ||
    fail "$root is no git checkout with a commit to release"
dirty="$(git status --porcelain --untracked-files=no)"
if [ -n "$dirty" ]; then
    $allow_dirty || fail "the tree has uncommitted changes; commit them, or pass --allow-dirty to
release them as they are:
$dirty"
    echo "release: building with uncommitted changes (--allow-dirty)"
fi

secrets="$(mktemp -d)"
staging=""
trap 'rm -rf "$secrets" "$staging"' EXIT
out="$(realpath -m "$out")"
mkdir -p "$(dirname "$out")"
staging="$(mktemp -d "$(dirname "$out")/.$(basename "$out").XXXXXX")"

# One copy of the password, its first line without the line end, read by openssl and osslsigncode
# alike; the folder is the caller's alone (mktemp -d).
password=""
if [ -n "$password_file" ]; then
    password="$secrets/password"
    head -n 1 "$password_file" | tr -d '\r\n' >"$password"
elif [ -n "${ZELM_SIGN_PASSWORD+set}" ] && [ -n "$key$pkcs12" ]; then
    password="$secrets/password"
    printf '%s' "$ZELM_SIGN_PASSWORD" >"$password"
fi

# The subject of the first certificate on standard input, "CN=...,O=...".
subject() {
    openssl x509 -noout -subject -nameopt RFC2253 | sed 's/^subject=//'
}

# The certificates the signature is checked against: the signer's own, and the system's roots for
# a certificate that a public authority issued.
trusted="$secrets/trusted.pem"
if [ -n "$key" ]; then
    passin=()
    [ -z "$password" ] || passin=(-passin "file:$password")
    key_public="$(openssl pkey -in "$key" -pubout "${passin[@]}" 2>&1)" ||
        fail "cannot read the private key $key (an encrypted key needs --password-file or" \
            "ZELM_SIGN_PASSWORD): $key_public"
    cert_public="$(openssl x509 -in "$cert" -noout -pubkey 2>&1)" ||
        fail "cannot read the certificate $cert: $cert_public"
    [ "$key_public" = "$cert_public" ] ||
        fail "the private key $key does not match the certificate $cert"
    cp "$cert" "$trusted"
    sign_with=(-certs "$cert" -key "$key")
    signer="$(subject <"$cert")"
elif [ -n "$pkcs12" ]; then
    [ -n "$password" ] ||
        fail "the PKCS#12 file $pkcs12 needs its password: --password-file or ZELM_SIGN_PASSWORD"
    if ! opened="$(openssl pkcs12 -in "$pkcs12" -nokeys -passin "file:$password" \
        -out "$trusted" 2>&1)"; then
        fail "cannot open the PKCS#12 file $pkcs12: wrong password, or not a PKCS#12 file:" \
            "$(echo "$opened" | head -n 1)"
    fi
    sign_with=(-pkcs12 "$pkcs12")
    signer="$(openssl pkcs12 -in "$pkcs12" -clcerts -nokeys -passin "file:$password" | subject)"
fi
if [ -n "$key$pkcs12" ]; then
    [ -z "$password" ] || sign_with+=(-readpass "$password")
    [ ! -f /etc/ssl/certs/ca-certificates.crt ] ||
        cat /etc/ssl/certs/ca-certificates.crt >>"$trusted"
fi

bank_version="$(sed -n 's/.*kBankVersion = \([0-9]*\);.*/\1/p' src/driver/ZelmSoundUpdate.cpp)"
[ -n "$bank_version" ] || fail "no kBankVersion in src/driver/ZelmSoundUpdate.cpp"
commit="$(git rev-parse HEAD)"
SOURCE_DATE_EPOCH="$(git log -1 --format=%ct)"
export SOURCE_DATE_EPOCH

# --- Build, check, build again. ---

work="$root/build/release"
mkdir -p "$work"

# build DIR TARGET...: the windows preset configured afresh in DIR and the targets built; the
# output goes to DIR.log, and its end to the terminal when a step fails.
build() {
    local dir="$1" log="$1.log"
    shift
    rm -rf "$dir"
    echo "release: building $* in ${dir#"$root"/}"
    if ! cmake --preset windows -B "$dir" >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        fail "configuring the windows preset failed (log: ${log#"$root"/})"
    fi
    local targets=()
    for target in "$@"; do targets+=(--target "$target"); done
    if ! cmake --build "$dir" "${targets[@]}" >>"$log" 2>&1; then
        tail -n 20 "$log" >&2
        fail "building the windows preset failed (log: ${log#"$root"/})"
    fi
}

checks=()
# check NAME COMMAND...: the release stops at the first check that fails, with the check's name.
# What the command said is kept in check_said.
check() {
    local name="$1"
    shift
    if ! check_said="$("$@" 2>&1)"; then
        echo "$check_said" >&2
        fail "check failed: $name"
    fi
    echo "release: ok $name"
    checks+=("ok  $name")
}

# The smoke test needs the helper programs of the same build: the stand-in host and the box
# answerers, targets e2e_NAME writing NAME.exe.
helpers=(zelm boxhelper boxdemo hostctl)
first_targets=(ZelmSoundUpdate)
! $smoke || first_targets+=("${helpers[@]/#/e2e_}")
build "$work/build-1" "${first_targets[@]}"
built="$work/build-1/ZelmSoundUpdate.exe"
stamp_tool="$(sed -n 's/^ZELM_HOST_TOOL_zelm_stamp:INTERNAL=//p' "$work/build-1/CMakeCache.txt")"
check_pe=(python3 "$root/tests/e2e/check_pe.py")

check "PE32 i386 GUI image, imports only from allowed KnownDLLs" "${check_pe[@]}" "$built"
check "imports only what Windows 2000's DLLs export by name" "${check_pe[@]}" --win2000 "$built"
check "manifest is res/ZelmSoundUpdate.manifest" \
    "${check_pe[@]}" --manifest res/ZelmSoundUpdate.manifest "$built"
check "sound bank (3BS/ZORV, language 1049) is res/zorv.3bs, version $bank_version" \
    "${check_pe[@]}" --bank res/zorv.3bs "$bank_version" "$built"
check "the self-check's stamp verifies" "$stamp_tool" --verify "$built"
check "version information present" "${check_pe[@]}" --version-info "$built"
check "PE time stamp is the commit's time ($SOURCE_DATE_EPOCH)" \
    "${check_pe[@]}" --time-stamp "$built"

build "$work/build-2" ZelmSoundUpdate
check "a second build in another folder is byte-identical" \
    cmp "$built" "$work/build-2/ZelmSoundUpdate.exe"

# --- Sign, or say that the release is unsigned. ---

shipped="$staging/ZelmSoundUpdate.exe"
if [ -n "$key$pkcs12" ]; then
    echo "release: signing with $signer"
    signed="$(osslsigncode sign "${sign_with[@]}" -h sha256 -in "$built" -out "$shipped" 2>&1)" ||
        fail "osslsigncode could not sign: $signed"
    check "the signature verifies" osslsigncode verify -in "$shipped" -CAfile "$trusted"
    check "the self-check's stamp verifies on the signed file" "$stamp_tool" --verify "$shipped"
    removed="$(osslsigncode remove-signature -in "$shipped" -out "$secrets/unsigned.exe" 2>&1)" ||
        fail "osslsigncode could not remove the signature again: $removed"
    check "removing the signature gives back the built file" cmp "$built" "$secrets/unsigned.exe"
    signature="signed: yes, $signer (osslsigncode, SHA-256)"
else
    echo "release: UNSIGNED: no --key/--cert or --pkcs12 given"
    cp "$built" "$shipped"
    signature="signed: no"
fi

# --- The file that ships, updating a stand-in host under Wine. ---

if $smoke; then
    stage="$work/smoke-windows"
    rm -rf "$stage" "$work/smoke-work"
    mkdir -p "$stage"
    cp "$shipped" "$stage/"
    for helper in "${helpers[@]}"; do cp "$work/build-1/$helper.exe" "$stage/"; done
    check "interactive and quiet update end to end (e2e scenario demo)" python3 \
        tests/e2e/run_e2e.py --windows-build "$stage" --work "$work/smoke-work" --source "$root" \
        --scenario demo
    # Which file ran, and under which Wine, as the driver names it: the check holds only for that.
    runtime="$(echo "$check_said" | sed -n 's/^.*runtime: //p' | head -n 1)"
    echo "release: the smoke test ran ${runtime:-on a runtime that the driver did not name}"
    checks[${#checks[@]} - 1]+=", ran ${runtime:-on an unnamed runtime}"
fi

# --- dist/: written whole, or not at all. ---

compiler="$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' \
    "$work"/build-1/CMakeFiles/*/CMakeCXXCompiler.cmake)"
digest="$(sha256sum "$shipped" | cut -d ' ' -f 1)"
{
    echo "ZelmSoundUpdate.exe"
    echo "commit: $commit${dirty:+ with uncommitted changes}"
    echo "SOURCE_DATE_EPOCH: $SOURCE_DATE_EPOCH ($(date -u -d "@$SOURCE_DATE_EPOCH" +%FT%TZ))"
    echo "bank: res/zorv.3bs, version $bank_version, $(stat -c %s res/zorv.3bs) bytes"
    echo "sha256: $digest ($(stat -c %s "$shipped") bytes)"
    [ -z "$key$pkcs12" ] ||
        echo "sha256 before signing: $(sha256sum "$built" | cut -d ' ' -f 1)"
    echo "compiler: $("$compiler" --version | head -n 1)"
    echo "$signature"
    echo "checks:"
    printf '  %s\n' "${checks[@]}"
} >"$staging/release.txt"
(cd "$staging" && sha256sum ZelmSoundUpdate.exe >SHA256SUMS)
chmod 755 "$staging"
rm -rf "$out"
mv "$staging" "$out"
echo "release: wrote ${out#"$root"/}: ZelmSoundUpdate.exe ($signature), SHA256SUMS, release.txt"
