"""Runs a command beside an RFC 3161 timestamp authority of the release tests' own:

    tsa.py WORK COMMAND...

The authority answers on 127.0.0.1, at the URL that COMMAND finds in HALVORN_TEST_TSA, as
`openssl ts -reply` does: a request to URL + NAME is signed with WORK/NAME.pem and
WORK/NAME-key.pem, with WORK/NAME-issuers.pem as the chain if there is one. Exits with
COMMAND's status."""
import http.server
import os
import subprocess
import sys
import threading
from pathlib import Path

work, command = Path(sys.argv[1]), sys.argv[2:]


class Authority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        name = self.path.strip("/")
        folder = work / "tsa"
        folder.mkdir(exist_ok=True)
        (folder / "tsa.cnf").write_text(f"[tsa]\ndefault_tsa = test\n[test]\nserial = {folder}/serial\n"
                                        "default_policy = 1.3.6.1.4.1.99999.1\ndigests = sha256, sha384, sha512\n"
                                        "signer_digest = sha256\ness_cert_id_alg = sha256\n")
        issuers = work / f"{name}-issuers.pem"
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", folder / "tsa.cnf", "-queryfile", "/dev/stdin",
                                "-signer", work / f"{name}.pem", "-inkey", work / f"{name}-key.pem",
                                *(["-chain", issuers] if issuers.exists() else []), "-out", "/dev/stdout"],
                               input=self.rfile.read(int(self.headers["Content-Length"])), capture_output=True)
        self.send_response(200 if reply.returncode == 0 else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.end_headers()
        self.wfile.write(reply.stdout)

    def log_message(self, *_):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Authority)
threading.Thread(target=server.serve_forever, daemon=True).start()
os.environ["HALVORN_TEST_TSA"] = f"http://127.0.0.1:{server.server_port}/"
sys.exit(subprocess.run(command).returncode)
