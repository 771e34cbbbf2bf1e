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

from publisher import cli, keys  # noqa: E402

_scratch = tempfile.mkdtemp(prefix="publisher-tests-")
atexit.register(shutil.rmtree, _scratch, True)
_keys = {}


def key_pair(name="main"):
    """(private key file, public key file, PrivateKey), made by the publisher's own keygen once: the
    main pair through its command line in a process of its own, the others in this process."""
    if name not in _keys:
        folder = os.path.join(_scratch, "keys-" + name)
        private, public = os.path.join(folder, "private.pem"), os.path.join(folder, "public.pem")
        os.makedirs(folder)
        result = run("keygen", "--private-key", private, "--public-key", public, in_process=name != "main")
        assert result.returncode == 0, result.stderr
        _keys[name] = (private, public, keys.load_private_key(read(private).decode()))
    return _keys[name]


def run(*arguments, in_process=True):
    """The publisher's command line: in this process unless a real process is asked for."""
    if not in_process:
        return subprocess.run([sys.executable, PUBLISH, *arguments], capture_output=True, text=True,
                              timeout=120)
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        try:
            code = cli.main(list(arguments))
        except SystemExit as exit:
            code = exit.code
    return subprocess.CompletedProcess(arguments, code, out.getvalue(), err.getvalue())


def read(path):
    with open(path, "rb") as source:
        return source.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as target:
        target.write(data)


def write_files(folder, files):
    for path, content in files.items():
        write(os.path.join(folder, *path.split("/")), content)


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
    return {os.path.relpath(os.path.join(parent, name), folder): read(os.path.join(parent, name))
            for parent, _, names in os.walk(folder) for name in names}


def scratch(name):
    return tempfile.mkdtemp(prefix=name + "-", dir=_scratch)


class HttpsServer:
    """tests/server/update_server.py on loopback, with a self-signed certificate for localhost that
    the tests trust as the CA."""

    def __init__(self, root):
        tls = os.path.join(_scratch, "tls")
        self.ca_file = os.path.join(tls, "trusted", "server.pem")
        if not os.path.exists(self.ca_file):
            os.makedirs(os.path.dirname(self.ca_file))
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                            "/CN=localhost", "-addext", "subjectAltName=DNS:localhost", "-keyout",
                            "server.key", "-out", "server.pem"], cwd=os.path.dirname(self.ca_file),
                           check=True, capture_output=True, timeout=60)
        self.control = tempfile.mkdtemp(dir=_scratch)
        ports = os.path.join(self.control, "ports.json")
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "tests", "server", "update_server.py"), "--root", root,
             "--control", self.control, "--ports-file", ports, "--tls-dir", tls, "--listen", "https",
             "--idle-exit", "300", "--watch-pid", str(os.getpid())],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while not os.path.exists(ports) or not os.path.getsize(ports):
            if time.monotonic() > deadline or self.process.poll() is not None:
                self.stop()
                raise RuntimeError("the test server did not start")
            time.sleep(0.05)
        self.port = json.loads(read(ports))["https"][0]

    def url(self, path):
        return "https://localhost:%d/%s" % (self.port, path)

    def stop(self):
        open(os.path.join(self.control, "stop"), "w").close()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(10)
