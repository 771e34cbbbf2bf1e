"""Shared set-up of the publisher's tests: the publisher on the import path, one key pair per run,
game folders, snapshots of a branch folder and a loopback HTTPS server."""

import atexit
import contextlib
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PUBLISH = os.path.join(ROOT, "tools", "publish", "publish.py")
sys.path.insert(0, os.path.join(ROOT, "tools", "publish"))
sys.path.insert(0, os.path.join(ROOT, "tests", "server"))

from publisher import cli, rsa  # noqa: E402

_scratch = tempfile.mkdtemp(prefix="publisher-tests-")
atexit.register(shutil.rmtree, _scratch, True)
_keys = {}


def key_pair(name="main"):
    """(private key file, public key file, PrivateKey), made by the publisher's own keygen once."""
    if name not in _keys:
        folder = os.path.join(_scratch, "keys-" + name)
        os.makedirs(folder)
        private, public = os.path.join(folder, "private.pem"), os.path.join(folder, "public.pem")
        result = run("keygen", "--private-key", private, "--public-key", public, in_process=name != "main")
        assert result.returncode == 0, result.stderr
        with open(private) as source:
            _keys[name] = (private, public, rsa.load_private_key(source.read()))
    return _keys[name]


def run(*arguments, in_process=True):
    """The publisher's command line: in this process unless a real process is asked for."""
    if not in_process:
        return subprocess.run([sys.executable, PUBLISH] + list(arguments), capture_output=True, text=True,
                              timeout=120)
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        try:
            code = cli.main(list(arguments))
        except SystemExit as exit:
            code = exit.code
    return subprocess.CompletedProcess(arguments, code, out.getvalue(), err.getvalue())


def write_files(folder, files):
    for path, content in files.items():
        full = os.path.join(folder, *path.split("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as target:
            target.write(content)


def game_files(small=60, seed=1):
    """`small` small scripts of different sizes, and three larger files."""
    files = {"Scripts/file%03d.lua" % i: (b"-- %d.%d\n" % (seed, i)) * (3 + i * 7) for i in range(small)}
    files["Imgs/big.png"] = bytes((i * seed) % 251 for i in range(200000))
    files["Imgs/\u0418\u0433\u0440\u0430 name.png"] = b"\x89PNG" * 30000
    files["mss32.dll"] = b"MZ sound %d" % seed * 10000
    return files


def snapshot(folder):
    """Every file below the folder with its content (None: the folder does not exist)."""
    if not os.path.exists(folder):
        return None
    found = {}
    for parent, _, names in os.walk(folder):
        for name in names:
            full = os.path.join(parent, name)
            with open(full, "rb") as source:
                found[os.path.relpath(full, folder)] = source.read()
    return found


class HttpsServer:
    """tests/server/update_server.py on loopback with a CA made for this run."""

    def __init__(self, root):
        self.tls = os.path.join(_scratch, "tls")
        if not os.path.exists(os.path.join(self.tls, "trusted", "server.pem")):
            _make_certificates(self.tls)
        self.ca_file = os.path.join(self.tls, "trusted", "server.pem")
        self.control = tempfile.mkdtemp(dir=_scratch)
        ports = os.path.join(self.control, "ports.json")
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "tests", "server", "update_server.py"), "--root", root,
             "--control", self.control, "--ports-file", ports, "--tls-dir", self.tls, "--listen", "https",
             "--idle-exit", "300", "--watch-pid", str(os.getpid())],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while not os.path.exists(ports) or not os.path.getsize(ports):
            if time.monotonic() > deadline or self.process.poll() is not None:
                self.stop()
                raise RuntimeError("the test server did not start")
            time.sleep(0.05)
        with open(ports) as source:
            self.port = json.load(source)["https"][0]

    def url(self, path):
        return "https://localhost:%d/%s" % (self.port, path)

    def stop(self):
        open(os.path.join(self.control, "stop"), "w").close()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(10)


def _make_certificates(tls):
    """A self-signed certificate for localhost, which the tests trust as the CA."""
    folder = os.path.join(tls, "trusted")
    os.makedirs(folder)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                    "/CN=localhost", "-addext", "subjectAltName=DNS:localhost", "-keyout", "server.key",
                    "-out", "server.pem"],
                   cwd=folder, check=True, capture_output=True, timeout=60)

def scratch(name):
    folder = tempfile.mkdtemp(prefix=name + "-", dir=_scratch)
    return folder
