#!/usr/bin/env bash
# A release of ZelmSoundUpdate.exe in one command: the windows preset built in a fresh folder from
# the committed tree, the built file checked, built a second time and compared byte for byte,
# signed when given a key (SHA-1 with a nested SHA-256 signature, timestamped when given a
# server), and only then written to dist/.
#
#   scripts/release.sh [--out DIR] [--allow-dirty] [--smoke]
#                      [--key KEY --cert CERT | --pkcs12 FILE] [--password-file FILE]
#                      [--timestamp URL] [--sha256-only]
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
#   --timestamp URL      countersign each signature through this RFC 3161 timestamp server, so
#                        that it still verifies after the certificate has expired; three tries
#                        at most, since public servers throttle. Without it the release says that
#                        its signatures stop verifying when the certificate expires.
#   --sha256-only        one SHA-256 signature instead of a SHA-1 one with a nested SHA-256 one:
#                        for a vendor who no longer supports Windows before the SHA-2 updates
#   --smoke              also run an interactive and a quiet update of the file that ships, end to
#                        end under Wine (the e2e scenario "demo")
#
# dist/ then holds ZelmSoundUpdate.exe, SHA256SUMS and release.txt (commit, bank, digest,
# compiler, every check and its result, each signature with its digest, signer and timestamp).
# Builds go to build/release/.
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
timestamp=""
sha256_only=false
while [ $# -gt 0 ]; do
    case "$1" in
    --out | --key | --cert | --pkcs12 | --password-file | --timestamp)
        [ $# -ge 2 ] || fail "$1 needs a value"
        case "$1" in
        --out) out="$2" ;;
        --key) key="$2" ;;
        --cert) cert="$2" ;;
        --pkcs12) pkcs12="$2" ;;
        --password-file) password_file="$2" ;;
        --timestamp) timestamp="$2" ;;
        esac
        shift 2
        ;;
    --allow-dirty) allow_dirty=true && shift ;;
    --smoke) smoke=true && shift ;;
    --sha256-only) sha256_only=true && shift ;;
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
[ -z "$timestamp" ] || [ -n "$key$pkcs12" ] || fail "--timestamp without a key to sign with"
! $sha256_only || [ -n "$key$pkcs12" ] || fail "--sha256-only without a key to sign with"
case "$timestamp" in
"" | http://?* | https://?*) ;;
*) fail "--timestamp needs the http:// or https:// URL of an RFC 3161 server, not '$timestamp'" ;;
esac
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

# The certificates the signatures and their timestamps are checked against: the signer's own
# chain, and the system's roots for a certificate or a timestamp server of a public authority.
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
    openssl x509 -in "$cert" >"$secrets/leaf.pem"
elif [ -n "$pkcs12" ]; then
    [ -n "$password" ] ||
        fail "the PKCS#12 file $pkcs12 needs its password: --password-file or ZELM_SIGN_PASSWORD"
    if ! opened="$(openssl pkcs12 -in "$pkcs12" -nokeys -passin "file:$password" \
        -out "$trusted" 2>&1)"; then
        fail "cannot open the PKCS#12 file $pkcs12: wrong password, or not a PKCS#12 file:" \
            "$(echo "$opened" | head -n 1)"
    fi
    sign_with=(-pkcs12 "$pkcs12")
    openssl pkcs12 -in "$pkcs12" -clcerts -nokeys -passin "file:$password" |
        openssl x509 >"$secrets/leaf.pem"
fi
if [ -n "$key$pkcs12" ]; then
    signer="$(subject <"$secrets/leaf.pem")"
    expires="$(openssl x509 -in "$secrets/leaf.pem" -noout -enddate | sed 's/^notAfter=//')"
    expires="$(date -u -d "$expires" +%FT%TZ)"
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

# sign IN OUT DIGEST [-nest]: one signature, timestamped when --timestamp is given. A public server
# throttles at times, so a timestamp gets two more tries, a few seconds apart.
sign() {
    local in="$1" out="$2" digest="$3" tries=1 said
    shift 3
    [ -z "$timestamp" ] || tries=3
    for try in $(seq "$tries"); do
        [ "$try" -eq 1 ] || { echo "release: timestamp server $timestamp failed; again in 5 s" &&
            sleep 5; }
        said="$(osslsigncode sign "${sign_with[@]}" "$@" -h "$digest" "${timestamp_at[@]}" \
            -in "$in" -out "$out" 2>&1)" && return 0
        rm -f "$out"
    done
    echo "$said" >&2
    [ -z "$timestamp" ] || fail "no timestamp from the server $timestamp after $tries tries"
    fail "osslsigncode could not sign"
}

# One line per signature that `osslsigncode verify` reports, in its order (the outer one first):
# digest|signer|timestamp time, or -|the timestamp's verification, or -|the signature's.
# osslsigncode 2.5 writes "The signature is timestamped:", later versions "Timestamp time:".
list_signatures() {
    awk '
        function value() { v = $0; sub(/^[^:]*: /, "", v); sub(/[ \t]+$/, "", v); return v }
        /^Signature Index: / { n++; digest[n] = signer[n] = ""; time[n] = tsa[n] = ok[n] = "-" }
        !n { next }
        /^Message digest algorithm +: / && digest[n] == "" { digest[n] = value() }
        /^[ \t]*Subject: / && signer[n] == "" { signer[n] = value() }
        /^(The signature is timestamped|[ \t]*Timestamp time): / && time[n] == "-" {
            time[n] = value()
        }
        /^Timestamp Server Signature verification: / { tsa[n] = value() }
        /^Signature verification: / { ok[n] = value() }
        END {
            for (i = 1; i <= n; i++) print digest[i] "|" signer[i] "|" time[i] "|" tsa[i] "|" ok[i]
        }'
}

# Whether the signatures are the ones wanted, each verified, each timestamped when asked: verify
# itself succeeds although a timestamp does not verify, so each line is looked at.
signatures_as_wanted() {
    echo "$verified"
    $verify_ok || return 1
    [ "$(cut -d '|' -f 1 <<<"$listed" | paste -sd ' ')" = "${digests[*]^^}" ] || return 1
    local digest who time tsa ok
    while IFS='|' read -r digest who time tsa ok; do
        [ "$ok" = ok ] || return 1
        if [ -n "$timestamp" ]; then
            [ "$time" != - ] && [ "$tsa" = ok ] || return 1
        else
            [ "$time" = - ] || return 1
        fi
    done <<<"$listed"
}

# refuses COMMAND...: succeeds when the command fails.
refuses() {
    ! "$@"
}

if [ -n "$key$pkcs12" ]; then
    # Windows 2000, and XP, Vista and 7 without the SHA-2 updates (KB3033929, KB4474419), read
    # only the outer signature and no SHA-256 file digest: the outer one is SHA-1, and the SHA-256
    # one that later Windows prefer is nested in it.
    digests=(sha1 sha256)
    kind="SHA-1 with a nested SHA-256"
    ! $sha256_only || { digests=(sha256) && kind="SHA-256 only"; }
    timestamp_at=()
    [ -z "$timestamp" ] || timestamp_at=(-ts "$timestamp")
    echo "release: signing with $signer ($kind${timestamp:+, timestamps from $timestamp})"
    sign "$built" "$secrets/signed-1.exe" "${digests[0]}"
    if ! $sha256_only; then
        sign "$secrets/signed-1.exe" "$secrets/signed-2.exe" sha256 -nest
        mv "$secrets/signed-2.exe" "$secrets/signed-1.exe"
    fi
    mv "$secrets/signed-1.exe" "$shipped"

    verify_ok=true
    verified="$(osslsigncode verify -in "$shipped" -CAfile "$trusted" -TSA-CAfile "$trusted" \
        2>&1)" || verify_ok=false
    listed="$(list_signatures <<<"$verified")"
    each="each verified"
    [ -z "$timestamp" ] || each+=" with its timestamp"
    check "osslsigncode verify lists the signatures ($kind), $each" signatures_as_wanted
    check "the self-check's stamp verifies on the signed file" "$stamp_tool" --verify "$shipped"
    # The middle of the file lies in the carried sound bank, which the self-check's digest covers.
    changed="$secrets/changed.exe"
    cp "$shipped" "$changed"
    middle=$(($(stat -c %s "$built") / 2))
    byte="$(od -An -tu1 -j "$middle" -N 1 "$changed" | tr -d ' ')"
    printf '%b' "\\0$(printf %03o $((byte ^ 1)))" |
        dd of="$changed" bs=1 seek="$middle" conv=notrunc status=none
    check "the self-check refuses the signed file with one byte changed" \
        refuses "$stamp_tool" --verify "$changed"
    removed="$(osslsigncode remove-signature -in "$shipped" -out "$secrets/unsigned.exe" 2>&1)" ||
        fail "osslsigncode could not remove the signatures again: $removed"
    check "removing the signatures gives back the built file" cmp "$built" "$secrets/unsigned.exe"
    signature="signed: yes, $signer (osslsigncode, $kind)"
    number=0
    signatures=()
    while IFS='|' read -r digest who time tsa ok; do
        number=$((number + 1))
        stamped="no timestamp"
        [ "$time" = - ] || stamped="timestamp $(date -u -d "$time" +%FT%TZ) from $timestamp"
        signatures+=("signature $number: $digest, $who, $stamped")
    done <<<"$listed"
    if [ -z "$timestamp" ]; then
        expiry="NOT TIMESTAMPED: the signatures stop verifying when the certificate expires"
        expiry+=" ($expires); --timestamp URL countersigns them"
        echo "release: $expiry"
        signatures+=("$expiry")
    fi
else
    echo "release: UNSIGNED: no --key/--cert or --pkcs12 given"
    cp "$built" "$shipped"
    signature="signed: no"
    signatures=()
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
    [ ${#signatures[@]} -eq 0 ] || printf '  %s\n' "${signatures[@]}"
    echo "checks:"
    printf '  %s\n' "${checks[@]}"
} >"$staging/release.txt"
(cd "$staging" && sha256sum ZelmSoundUpdate.exe >SHA256SUMS)
chmod 755 "$staging"
rm -rf "$out"
mv "$staging" "$out"
echo "release: wrote ${out#"$root"/}: ZelmSoundUpdate.exe ($signature), SHA256SUMS, release.txt"
