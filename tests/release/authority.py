"""Throwaway certificates and an RFC 3161 timestamp authority on 127.0.0.1, for signing offline as
the release signs: no machine of ours reaches a public timestamp server.

  with TimestampAuthority(folder) as authority: ... authority.url ...

One CA issues the code-signing certificate and the authority's certificate, so that a release
checks both against the signer's chain. Replies come from `openssl ts -reply`; the server runs in
a thread of the caller and stops with the `with` block, or with the process.
"""
import subprocess
import tempfile
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

TSA_CONFIG = """[ tsa ]
default_tsa = authority
[ authority ]
serial = {folder}/tsa-serial
signer_cert = {folder}/tsa-cert.pem
certs = {folder}/ca-cert.pem
signer_key = {folder}/tsa-key.pem
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
"""


def openssl(folder, *args):
    subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)


def make_certificates(folder, signer_days=1, key_password_file=None):
    """In `folder`: ca-cert.pem (ten years), signer-key.pem (encrypted with the first line of
    key_password_file, when given) and signer-cert.pem (valid for signer_days, code signing),
    chain.pem (signer and CA), and the authority's tsa-key.pem and tsa-cert.pem (ten years,
    extended key usage timeStamping, critical, as RFC 3161 demands)."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    encrypt = ["-aes256", "-pass", f"file:{key_password_file}"] if key_password_file else []
    passin = ["-passin", f"file:{key_password_file}"] if key_password_file else []
    openssl(folder, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca-key.pem",
            "-days", "3650", "-subj", "/CN=Zelm Throwaway CA", "-addext",
            "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
            "-out", "ca-cert.pem")
    for name, subject, days, usage, key_options in [
        ("signer", "/CN=ZelmReleaseTest", signer_days, "codeSigning", encrypt),
        ("tsa", "/CN=Zelm Throwaway Timestamps", 3650, "critical,timeStamping", []),
    ]:
        (folder / f"{name}.ext").write_text(
            f"basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
            f"extendedKeyUsage={usage}\n")
        openssl(folder, "genpkey", "-algorithm", "RSA", *key_options, "-out", f"{name}-key.pem")
        openssl(folder, "req", "-new", "-key", f"{name}-key.pem",
                *(passin if key_options else []), "-subj", subject, "-out", f"{name}.csr")
        openssl(folder, "x509", "-req", "-in", f"{name}.csr", "-CA", "ca-cert.pem", "-CAkey",
                "ca-key.pem", "-CAcreateserial", "-days", str(days), "-extfile", f"{name}.ext",
                "-out", f"{name}-cert.pem")
    (folder / "chain.pem").write_text((folder / "signer-cert.pem").read_text() +
                                      (folder / "ca-cert.pem").read_text())
    (folder / "tsa-serial").write_text("01\n")
    (folder / "tsa.cnf").write_text(TSA_CONFIG.format(folder=folder))
    return folder


class TimestampAuthority:
    """Answers RFC 3161 requests with `openssl ts -reply` from the certificates of `folder` (see
    make_certificates). answers: what each request in turn gets, the last one repeated: "reply",
    "garbage" (bytes that are no reply), or "busy" (HTTP 503, as a throttling server answers).
    `requests` counts the requests served."""

    def __init__(self, folder, answers=("reply",)):
        self.folder = Path(folder)
        self.answers = list(answers)
        self.requests = 0
        self.lock = threading.Lock()
        authority = self

        class Handler(BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                status, body = authority.answer(query)
                self.send_response(status)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/"

    def answer(self, query):
        with self.lock:
            kind = self.answers[min(self.requests, len(self.answers) - 1)]
            self.requests += 1
        if kind == "busy":
            return 503, b"busy"
        if kind == "garbage":
            return 200, b"this is no timestamp reply\n"
        with tempfile.TemporaryDirectory() as scratch:
            (Path(scratch) / "query.tsq").write_bytes(query)
            with self.lock:  # one serial number file
                subprocess.run(["openssl", "ts", "-reply", "-config", str(self.folder / "tsa.cnf"),
                                "-queryfile", "query.tsq", "-out", "reply.tsr"], cwd=scratch,
                               check=True, capture_output=True)
            return 200, (Path(scratch) / "reply.tsr").read_bytes()

    def __enter__(self):
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()


def unused_url():
    """The URL of a port on 127.0.0.1 where nothing listens: an authority that is down."""
    server = ThreadingHTTPServer(("127.0.0.1", 0), BaseHTTPRequestHandler)
    port = server.server_address[1]
    server.server_close()
    return f"http://127.0.0.1:{port}/"
