#!/usr/bin/env python3
"""Runs scripts/release.sh in a clone of the checkout (its tracked files as they are, committed
there), so that the release builds from a committed tree and never writes the checkout's dist/.

  release_test.py --source CHECKOUT --work DIR

First every refusal (bad input, a built file that fails a check, a timestamp server that is down
or answers garbage), each with its message and no release folder left behind; then a release
unsigned, one signed with an encrypted PEM key and its certificate chain (password from a file)
and timestamped by a server that is busy at first, one signed with a PKCS#12 file (password from
the environment) without a timestamp, and one with a single SHA-256 signature. Throwaway
certificates, valid for a day, and a timestamp authority of this test on 127.0.0.1
(authority.py): the signatures are also verified at a time after the certificate has expired.
Prints one line per check, named by what it checks.
"""
import argparse
import hashlib
import os
import re
import shutil
import ssl
import subprocess
import sys
from pathlib import Path

from authority import TimestampAuthority, make_certificates, unused_url

PASSWORD = "release-test-password"
failures = []


def expect(name, condition, detail=""):
    print(f"{'ok' if condition else 'FAIL'} {name}{'' if condition else ': ' + detail}",
          flush=True)
    if not condition:
        failures.append(name)


def run(args, cwd, env=None):
    result = subprocess.run(args, cwd=cwd, env={**os.environ, **(env or {})}, text=True,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return result.returncode, result.stdout


def make_clone(source, tree):
    """The checkout's tracked files, committed in a clone that shares its objects."""
    snapshot = run(["git", "stash", "create"], source)[1].strip() or "HEAD"
    subprocess.run(["git", "clone", "--quiet", "--shared", "--no-checkout", str(source),
                    str(tree)], check=True)
    subprocess.run(["git", "checkout", "--quiet", "--detach", snapshot], cwd=tree, check=True)


def make_keys(keys):
    """An encrypted key with its certificate chain (a throwaway CA's, which also certifies the
    timestamp authority), the same as PKCS#12, and a key of no certificate; the password in a
    file."""
    keys.mkdir()
    (keys / "password").write_text(PASSWORD + "\n")
    make_certificates(keys, key_password_file=keys / "password")
    commands = [
        ["openssl", "pkcs12", "-export", "-inkey", "signer-key.pem", "-passin",
         f"file:{keys / 'password'}", "-in", "chain.pem", "-passout", f"pass:{PASSWORD}",
         "-out", "signer.p12"],
        ["openssl", "genpkey", "-algorithm", "RSA", "-out", "other-key.pem"],
    ]
    for command in commands:
        subprocess.run(command, cwd=keys, check=True, capture_output=True)


def append_to_readme(tree):
    with open(tree / "README.md", "a") as readme:
        readme.write("\nchanged\n")


def declare_windows_10(tree):
    """The manifest change that would make Windows report its true version to the updater."""
    manifest = tree / "res" / "ZelmSoundUpdate.manifest"
    manifest.write_text(manifest.read_text().replace("</assembly>", """  <compatibility \
xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application><supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/></application>
  </compatibility>
</assembly>"""))


def set_bank_byte(offset, value):
    def change(tree):
        bank = tree / "res" / "zorv.3bs"
        data = bytearray(bank.read_bytes())
        data[offset] = value
        bank.write_bytes(bytes(data))
    return change


def check_refusals(tree, keys, work, garbage_url, down_url):
    pem = ["--key", str(keys / "signer-key.pem"), "--cert", str(keys / "chain.pem")]
    with_password = [*pem, "--password-file", str(keys / "password")]
    refusals = [
        # name, change to the tree, arguments, environment, what the refusal says
        ("refuses a tree with uncommitted changes", append_to_readme, [], {},
         ["uncommitted changes"]),
        ("refuses a missing sound bank", lambda t: (t / "res" / "zorv.3bs").unlink(),
         ["--allow-dirty"], {}, ["res/zorv.3bs is missing"]),
        ("refuses a malformed sound bank", set_bank_byte(0, ord("Z")), ["--allow-dirty"], {},
         ["not a sound bank"]),
        ("refuses a bank whose version is not the updater's", set_bank_byte(5, 6),
         ["--allow-dirty"], {}, ["carries version 6"]),
        ("refuses a built file that fails a check, naming the check", declare_windows_10,
         ["--allow-dirty"], {},
         ["check failed: PE32 i386 GUI image", "the manifest names supported Windows versions"]),
        ("refuses a key that does not match its certificate", None,
         ["--key", str(keys / "other-key.pem"), "--cert", str(keys / "chain.pem")], {},
         ["does not match the certificate"]),
        ("refuses an encrypted key without its password", None, pem, {},
         ["cannot read the private key"]),
        ("refuses a wrong PKCS#12 password", None, ["--pkcs12", str(keys / "signer.p12")],
         {"ZELM_SIGN_PASSWORD": "wrong"}, ["wrong password"]),
        ("refuses a release whose timestamp server is down", None,
         [*with_password, "--timestamp", down_url], {},
         [f"no timestamp from the server {down_url} after 3 tries"]),
        ("refuses a release whose timestamp server answers garbage", None,
         [*with_password, "--timestamp", garbage_url], {},
         [f"no timestamp from the server {garbage_url} after 3 tries"]),
    ]
    for name, change, args, env, messages in refusals:
        out = work / "refused"
        if change:
            change(tree)
        code, said = run(["scripts/release.sh", "--out", str(out), *args], tree, env)
        subprocess.run(["git", "checkout", "--quiet", "--", "."], cwd=tree, check=True)
        expect(name, code != 0 and "REFUSED" in said and all(m in said for m in messages),
               f"exit code {code}, not all of {messages} in:\n{said}")
        expect(f"{name}: no release folder left", not out.exists() and not any(
            p.name.startswith(".refused.") for p in work.iterdir()), f"{out} or its staging exists")


def check_release(name, tree, out, args, env, signer):
    """Runs one release into `out` and checks what it wrote; the shipped file's bytes and what
    the release said."""
    code, said = run(["scripts/release.sh", "--out", str(out), *args], tree, env)
    expect(f"{name}: the release succeeds", code == 0, f"exit code {code}:\n{said}")
    if code != 0:
        return None
    expect(f"{name}: it says whether it signs",
           ("signing with" in said) if signer else ("UNSIGNED" in said), said)
    expect(f"{name}: the release folder holds the exe, SHA256SUMS and release.txt",
           sorted(p.name for p in out.iterdir()) ==
           ["SHA256SUMS", "ZelmSoundUpdate.exe", "release.txt"], str(list(out.iterdir())))
    exe = (out / "ZelmSoundUpdate.exe").read_bytes()
    digest = hashlib.sha256(exe).hexdigest()
    expect(f"{name}: SHA256SUMS holds the exe's digest",
           (out / "SHA256SUMS").read_text() == f"{digest}  ZelmSoundUpdate.exe\n")
    text = (out / "release.txt").read_text()
    commit = run(["git", "rev-parse", "HEAD"], tree)[1].strip()
    bank = tree / "res" / "zorv.3bs"
    wanted = [f"commit: {commit}\n", f"sha256: {digest} ({len(exe)} bytes)",
              f"bank: res/zorv.3bs, version {bank.read_bytes()[5]}, {bank.stat().st_size} bytes",
              "compiler: i686-w64-mingw32-g++", "ok  a second build in another folder is "
              "byte-identical", "ok  the self-check's stamp verifies",
              f"signed: yes, {signer}" if signer else "signed: no"]
    expect(f"{name}: release.txt names commit, bank, digest, compiler, checks and signature",
           all(w in text for w in wanted), f"{[w for w in wanted if w not in text]} in:\n{text}")
    return exe, said


def check_signed(name, out, said, keys, unsigned, digests, timestamped):
    """What the release says of its signatures, the signatures osslsigncode lists, in order, their
    timestamps, and whether they still verify a day after the certificate has expired: only
    timestamped ones do."""
    text = (out / "release.txt").read_text()
    wanted = [f"  signature {number}: {digest}, /CN=ZelmReleaseTest, "
              f"{'timestamp 2' if timestamped else 'no timestamp'}"
              for number, digest in enumerate(digests, 1)]
    wanted.append("ok  the self-check refuses the signed file with one byte changed")
    expect(f"{name}: release.txt names each signature's digest, signer and timestamp",
           all(w in text for w in wanted), f"{[w for w in wanted if w not in text]} in:\n{text}")
    warning = "NOT TIMESTAMPED: the signatures stop verifying when the certificate expires"
    expect(f"{name}: the release and release.txt {'do not say' if timestamped else 'say'} that "
           "the signatures stop verifying when the certificate expires",
           (warning in said and warning in text) != timestamped, said + text)
    exe = out / "ZelmSoundUpdate.exe"
    verify = ["osslsigncode", "verify", "-in", str(exe), "-CAfile", str(keys / "ca-cert.pem"),
              "-TSA-CAfile", str(keys / "ca-cert.pem")]
    code, said = run(verify, out)
    # osslsigncode 2.5 says "The signature is timestamped:", later versions "Timestamp time:".
    listed = re.findall(r"^Message digest algorithm +: (\S+)", said, re.M)
    stamps = re.findall(r"^(?:The signature is timestamped|\s*Timestamp time): ", said, re.M)
    stamps_verified = said.count("Timestamp Server Signature verification: ok")
    expect(f"{name}: osslsigncode verify lists the signatures {digests}, each verified",
           code == 0 and listed == digests and
           len(re.findall(r"^Signature verification: ok", said, re.M)) == len(digests), said)
    want = len(digests) if timestamped else 0
    expect(f"{name}: {'each signature carries' if timestamped else 'no signature carries'} a "
           "timestamp", len(stamps) == want and stamps_verified == want, said)
    expired = subprocess.run(["openssl", "x509", "-in", str(keys / "signer-cert.pem"), "-noout",
                              "-enddate"], capture_output=True, text=True, check=True).stdout
    later = int(ssl.cert_time_to_seconds(expired.strip().split("=", 1)[1])) + 86400
    code, said = run([*verify, "-time", str(later)], out)
    expect(f"{name}: a day after the certificate has expired the signatures "
           f"{'still verify' if timestamped else 'no longer verify'}",
           (code == 0) == timestamped, said)
    stripped = out.parent / f"{out.name}-stripped.exe"
    run(["osslsigncode", "remove-signature", "-in", str(exe), "-out", str(stripped)], out)
    expect(f"{name}: without its signatures it is the unsigned release byte for byte",
           stripped.exists() and stripped.read_bytes() == unsigned)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source", type=Path, required=True)
    parser.add_argument("--work", type=Path, required=True)
    args = parser.parse_args()
    work = args.work.resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    tree, keys = work / "tree", work / "keys"
    make_clone(args.source.resolve(), tree)
    make_keys(keys)

    with TimestampAuthority(keys, answers=["garbage"]) as garbage:
        check_refusals(tree, keys, work, garbage.url, unused_url())
    expect("a timestamp server that answers garbage is asked three times", garbage.requests == 3,
           f"{garbage.requests} requests")
    unsigned = check_release("unsigned", tree, work / "unsigned", [], {}, None)
    pem = ["--key", str(keys / "signer-key.pem"), "--cert", str(keys / "chain.pem"),
           "--password-file", str(keys / "password")]
    dual = ["SHA1", "SHA256"]
    # A public server throttles: this one is busy at its first request.
    with TimestampAuthority(keys, answers=["busy", "reply"]) as authority:
        for name, signing, env, digests, timestamped in [
            ("signed with key and certificate, timestamped",
             [*pem, "--timestamp", authority.url], {}, dual, True),
            ("signed with PKCS#12", ["--pkcs12", str(keys / "signer.p12")],
             {"ZELM_SIGN_PASSWORD": PASSWORD}, dual, False),
            ("signed SHA-256 only", [*pem, "--sha256-only"], {}, ["SHA256"], False),
        ]:
            out = work / re.sub(r"[^\w-]+", "-", name)
            released = check_release(name, tree, out, signing, env, "CN=ZelmReleaseTest")
            if released and unsigned:
                check_signed(name, out, released[1], keys, unsigned[0], digests, timestamped)
    expect("the busy timestamp server is asked again, once for each signature after that",
           authority.requests == 3, f"{authority.requests} requests")
    expect("the clone is left as it was committed",
           run(["git", "status", "--porcelain", "--untracked-files=no"], tree)[1] == "")
    print(f"{len(failures)} checks failed: {failures}" if failures else "every check passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
