"""What the release tests share. Each test is a unittest program that ctest runs as

    python3 TEST.py --source DIR --work DIR --version V --home URL --program EXE --check-pe ARGS...

and they share one work folder, in which the refusals test makes a git checkout of the
sources and a clone of it ("first" and "second/elsewhere") and throwaway certificates,
the reproducibility test the releases, and the publish test what the publish job
publishes, unsigned and signed (ctest fixtures order them). Each runs beside an RFC 3161
timestamp authority of the tests' own."""
import argparse
import http.server
import os
import shutil
import subprocess
import sys
import threading
import unittest
from pathlib import Path

from releasing import layout

SETTINGS = argparse.Namespace()


def main():
    """Reads the settings ctest gives, starts the timestamp authority, runs the tests."""
    parser = argparse.ArgumentParser()
    for option in ("--source", "--work", "--version", "--home", "--program"):
        parser.add_argument(option, required=True)
    # The file check's arguments after the program and its architecture.
    parser.add_argument("--check-pe", nargs="+", required=True)
    parser.parse_args(namespace=SETTINGS)
    SETTINGS.source, SETTINGS.work = Path(SETTINGS.source), Path(SETTINGS.work)
    SETTINGS.work.mkdir(parents=True, exist_ok=True)
    start_timestamp_authority(SETTINGS.work)
    unittest.main(argv=sys.argv[:1], verbosity=2)


def work(*parts):
    return SETTINGS.work.joinpath(*parts)


def first():
    return work("first")


def zip_name():
    return layout.zip_name(SETTINGS.version)


# The tested release as the publish job gets it, outside the tree; what it publishes,
# signed with the genuine certificate, and unsigned.
def tested():
    return work("artifact", "release")


def downloads():
    return work("downloads")


def unsigned():
    return work("unsigned")


# A repository whose name holds the version, which only the tag's place may turn into $version.
def url_base():
    return f"https://github.com/example/halvorn-{SETTINGS.version}/releases/download/v{SETTINGS.version}/"


def run(*command, env=None, check=True, cwd=None):
    """The finished command, its output captured as text."""
    return subprocess.run([str(part) for part in command], capture_output=True, text=True, check=check,
                          env={**os.environ, **(env or {})}, cwd=cwd)


def git(*arguments, cwd=None):
    return run("git", "-C", cwd or first(), "-c", "user.name=Halvorn", "-c", "user.email=halvorn@invalid", *arguments)


def commit_of(checkout):
    return git("rev-parse", "HEAD", cwd=checkout).stdout.strip()


def fresh(path):
    """`path`, removed if it was there."""
    shutil.rmtree(path, ignore_errors=True)
    return path


def check_pe(program, architecture):
    """The release tooling's check of a built program: its exit status and what it said."""
    result = run(sys.executable, "-m", "releasing.pe", program, architecture, *SETTINGS.check_pe, check=False)
    return result.returncode, result.stdout + result.stderr


class TimestampAuthority(http.server.BaseHTTPRequestHandler):
    """An RFC 3161 authority, as `openssl ts -reply` answers: a request to URL + NAME is signed
    with WORK/NAME.pem and WORK/NAME-key.pem, with WORK/NAME-issuers.pem as the chain if
    there is one."""

    def do_POST(self):
        name = self.path.strip("/")
        folder = work("tsa")
        folder.mkdir(exist_ok=True)
        (folder / "tsa.cnf").write_text(f"[tsa]\ndefault_tsa = test\n[test]\nserial = {folder}/serial\n"
                                        "default_policy = 1.3.6.1.4.1.99999.1\ndigests = sha256, sha384, sha512\n"
                                        "signer_digest = sha256\ness_cert_id_alg = sha256\n")
        issuers = work(f"{name}-issuers.pem")
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", folder / "tsa.cnf", "-queryfile", "/dev/stdin",
                                "-signer", work(f"{name}.pem"), "-inkey", work(f"{name}-key.pem"),
                                *(["-chain", issuers] if issuers.exists() else []), "-out", "/dev/stdout"],
                               input=self.rfile.read(int(self.headers["Content-Length"])), capture_output=True)
        self.send_response(200 if reply.returncode == 0 else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.end_headers()
        self.wfile.write(reply.stdout)

    def log_message(self, *_):
        pass


def start_timestamp_authority(folder):
    """The authority, on 127.0.0.1, at the URL that the tools under test find in HALVORN_TEST_TSA."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), TimestampAuthority)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    os.environ["HALVORN_TEST_TSA"] = f"http://127.0.0.1:{server.server_port}/"
