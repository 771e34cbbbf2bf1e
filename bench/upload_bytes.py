#!/usr/bin/env python3
"""Bytes an upload sends for a patch. A release of 75 files (72 scripts of 1 to 8 KB, which also
form the small-files bundle, and three files of 300 KB, all incompressible) is published with the
publisher and uploaded to rclone's WebDAV server on loopback through a relay that counts the bytes
that reach the server; then a release that changes 3 of the files is uploaded the same way. Prints
the bytes sent by each upload, and for the second its ratio to the reference: the objects that
changed (the three files and the new bundle) plus the manifest and descriptor pairs. What is above
1 is rclone's requests: looking each object up and having the server copy it.

usage: bench/upload_bytes.py [WORK_DIR]   (default build/bench-data/upload; emptied first)
"""

import os
import random
import re
import shutil
import socket
import subprocess
import sys
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
PUBLISH = [sys.executable, os.path.join(ROOT, "tools", "publish", "publish.py")]


class CountingRelay:
    """A TCP relay to a port on loopback that counts the bytes its clients send."""

    def __init__(self, port: int):
        self.port, self.sent, self.lock = port, 0, threading.Lock()
        self.listener = socket.create_server(("127.0.0.1", 0))
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self) -> None:
        while True:
            client, _ = self.listener.accept()
            threading.Thread(target=self._relay, args=(client,), daemon=True).start()

    def _relay(self, client: socket.socket) -> None:
        with client, socket.create_connection(("127.0.0.1", self.port)) as server:
            back = threading.Thread(target=self._pipe, args=(server, client, False))
            back.start()
            self._pipe(client, server, True)
            back.join()

    def _pipe(self, source: socket.socket, target: socket.socket, counted: bool) -> None:
        try:
            while True:
                data = source.recv(1 << 16)
                if not data:
                    break
                if counted:
                    with self.lock:
                        self.sent += len(data)
                target.sendall(data)
            target.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def write_files(folder: str, files: dict) -> None:
    for path, content in files.items():
        full = os.path.join(folder, *path.split("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as target:
            target.write(content)


def run(*arguments: str, environment=None) -> None:
    result = subprocess.run(list(arguments), capture_output=True, text=True, env=environment, timeout=600)
    if result.returncode != 0:
        raise SystemExit("%s failed:\n%s%s" % (" ".join(arguments[:3]), result.stdout, result.stderr))


def main() -> int:
    work = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "bench-data", "upload"))
    shutil.rmtree(work, ignore_errors=True)
    source, out, served = (os.path.join(work, name) for name in ("source", "www/lurra", "served"))
    os.makedirs(served)
    private, public = os.path.join(work, "private.pem"), os.path.join(work, "public.pem")
    run(*PUBLISH, "keygen", "--private-key", private, "--public-key", public)
    log = os.path.join(work, "webdav.log")
    server = subprocess.Popen(["rclone", "serve", "webdav", served, "--addr", "127.0.0.1:0", "--log-file", log,
                               "--log-level", "INFO"])
    try:
        deadline = time.monotonic() + 20
        while not (os.path.exists(log) and re.search(r"started on http://127\.0\.0\.1:(\d+)/", open(log).read())):
            if time.monotonic() > deadline:
                raise SystemExit("rclone serve webdav did not start")
            time.sleep(0.05)
        relay = CountingRelay(int(re.search(r"started on http://127\.0\.0\.1:(\d+)/", open(log).read()).group(1)))
        environment = dict(os.environ, RCLONE_CONFIG_BENCH_TYPE="webdav",
                           RCLONE_CONFIG_BENCH_URL="http://127.0.0.1:%d/" % relay.listener.getsockname()[1])
        generator = random.Random(75)
        files = {"Scripts/s%02d.lua" % i: generator.randbytes(generator.randrange(1000, 8000)) for i in range(72)}
        files.update({name: generator.randbytes(300000) for name in ("Imgs/a.png", "Imgs/b.png", "mss32.dll")})
        changes = {"Scripts/s03.lua": generator.randbytes(3000), "Scripts/s40.lua": generator.randbytes(5000),
                   "Imgs/a.png": generator.randbytes(300000)}
        sent = []
        for version, change in (("144", files), ("145", changes)):
            write_files(source, change)
            run(*PUBLISH, "build", "--private-key", private, "--source", source, "--out", out, "--version", version)
            before = relay.sent
            run(*PUBLISH, "upload", "--folder", out, "--remote", "bench:patch/lurra", "--public-key", public,
                environment=environment)
            sent.append(relay.sent - before)
    finally:
        server.terminate()
        server.wait(10)
    objects = lambda version: {name: os.path.getsize(os.path.join(out, version, "files", name))
                               for name in os.listdir(os.path.join(out, version, "files"))}
    changed = {name: size for name, size in objects("145").items() if name not in objects("144")}
    metadata = sum(os.path.getsize(os.path.join(out, *name.split("/")))
                   for name in ("145/checksums.txt", "145/checksums.sig", "latest.sig", "latest.txt"))
    reference = sum(changed.values()) + metadata
    print("first upload, 75 files: %d bytes sent (%d bytes of objects)" % (sent[0], sum(objects("144").values())))
    print("second upload, 3 of 75 files changed: %d bytes sent; reference %d bytes (%d objects changed: %d bytes, "
          "manifest and descriptor pairs: %d bytes); ratio %.2f"
          % (sent[1], reference, len(changed), sum(changed.values()), metadata, sent[1] / reference))
    return 0


if __name__ == "__main__":
    sys.exit(main())
