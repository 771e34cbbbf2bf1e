"""Uploads through the installed command (pip install of tools/publish into a scratch environment)
to a real WebDAV server that rclone itself serves on loopback; its log gives the order in which
each file arrived."""

import os
import re
import shutil
import subprocess
import sys
import time
import unittest

import helpers
from helpers import read

BRANCH = "patch/lurra/"


def arrival_rank(path):
    """Where a file of a release may arrive: each group only after every earlier one."""
    order = [r"\d+/files/[0-9a-f]{64}\.gz", r"\d+/checksums\.(txt|sig)", r"latest_launcher\.exe",
             r"news(_v2)?\.(txt|sig)", r"latest\.sig", r"latest\.txt"]
    return next(rank for rank, pattern in enumerate(order) if re.fullmatch(pattern, path))


class Upload(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        folder = helpers.scratch("installed")
        # Installed as a maintainer installs it, from a copy so the checkout gets no build files.
        shutil.copytree(os.path.join(helpers.ROOT, "tools", "publish"), os.path.join(folder, "source"),
                        ignore=shutil.ignore_patterns("__pycache__"))
        # Offline, with the build tools and cryptography of the system's Python (scripts/install-deps.sh).
        python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
        steps = [[python, "-m", "venv", "--system-site-packages", os.path.join(folder, "venv")],
                 [os.path.join(folder, "venv", "bin", "pip"), "install", "--no-index", "--no-build-isolation",
                  "--disable-pip-version-check", "-q", os.path.join(folder, "source")]]
        for step in steps:
            subprocess.run(step, check=True, capture_output=True, timeout=300)
        cls.command = os.path.join(folder, "venv", "bin", "varnhold-publish")
        cls.root = helpers.scratch("webdav-root")
        cls.log = os.path.join(cls.root + "-log", "server.log")
        os.makedirs(os.path.dirname(cls.log))
        cls.server = subprocess.Popen(["rclone", "serve", "webdav", cls.root, "--addr", "127.0.0.1:0",
                                       "--log-file", cls.log, "--log-level", "INFO"])
        deadline = time.monotonic() + 20
        while not re.search(r"started on http://127\.0\.0\.1:(\d+)/", cls._log()):
            if time.monotonic() > deadline or cls.server.poll() is not None:
                raise RuntimeError("rclone serve webdav did not start:\n" + cls._log())
            time.sleep(0.05)
        port = re.search(r"started on http://127\.0\.0\.1:(\d+)/", cls._log()).group(1)
        cls.environment = dict(os.environ, RCLONE_CONFIG_VARNHOLDTEST_TYPE="webdav",
                               RCLONE_CONFIG_VARNHOLDTEST_URL="http://127.0.0.1:%s/" % port)

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait(10)

    @classmethod
    def _log(cls):
        return read(cls.log).decode() if os.path.exists(cls.log) else ""

    def puts(self, method="PUT", branch=BRANCH):
        return re.findall(r"INFO  : /%s(\S+): %s from" % (branch, method), self._log())

    def upload(self, folder, *extra, remote="varnholdtest:" + BRANCH):
        return subprocess.run([self.command, "upload", "--folder", folder, "--remote", remote,
                               "--public-key", self.public, *extra], env=self.environment, capture_output=True,
                              text=True, timeout=300)

    def setUp(self):
        self.folder = helpers.scratch(self._testMethodName)
        self.source = os.path.join(self.folder, "source")
        self.out = os.path.join(self.folder, "www", "lurra")
        self.private, self.public, _ = helpers.key_pair()

    def build(self, version, *extra):
        result = helpers.run("build", "--private-key", self.private, "--source", self.source, "--out", self.out,
                             "--version", version, *extra)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_upload_order_keeps_every_served_state_whole_and_deletes_nothing(self):
        helpers.write_files(self.source, helpers.game_files())
        helpers.write_files(self.folder, {"launcher.exe": b"MZ launcher 1.17", "news.txt": b"[news]\ntitle_ru=t\n"})
        self.build("144", "--launcher", os.path.join(self.folder, "launcher.exe"), "--launcher-version", "117",
                   "--news-v2", os.path.join(self.folder, "news.txt"))
        served = os.path.join(self.root, *BRANCH.split("/"))
        old_release = os.path.join(self.folder, "144 as built")
        shutil.copytree(self.out, old_release)
        for what, change in (("first release", None), ("next release", "145")):
            with self.subTest(what):
                if change:
                    helpers.write_files(self.source, {"Scripts/file001.lua": b"changed"})
                    self.build(change)
                    shutil.rmtree(os.path.join(self.out, "144"))  # tidied up locally: stays on the server
                before, copies_before = len(self.puts()), len(self.puts("COPY"))
                result = self.upload(self.out)
                self.assertEqual(result.returncode, 0, result.stderr)
                arrived = self.puts()[before:]
                self.assertEqual([arrival_rank(path) for path in arrived],
                                 sorted(arrival_rank(path) for path in arrived), arrived)
                self.assertEqual(arrived[-1], "latest.txt")
                # The server copies what the release before holds (its log names the copy's source).
                copied = {path.replace("144/", "145/", 1) for path in self.puts("COPY")[copies_before:]}
                self.assertEqual(set(arrived) | copied,
                                 {p for p in helpers.snapshot(self.out) if not p.startswith(".")})
        self.assertNotRegex(self._log(), r": (DELETE|MOVE) from")
        self.assertEqual({p: c for p, c in helpers.snapshot(served).items() if p.startswith("144/")},
                         {p: c for p, c in helpers.snapshot(old_release).items() if p.startswith("144/")})
        check = helpers.run("verify", "--base", served, "--public-key", self.public)
        self.assertEqual(check.returncode, 0, check.stdout)

        # Refused before anything is sent: a folder that fails its check, a server ahead of it.
        incomplete = os.path.join(self.folder, "incomplete")
        shutil.copytree(self.out, incomplete)
        os.remove(os.path.join(incomplete, "145", "files", sorted(os.listdir(os.path.join(incomplete, "145",
                                                                                          "files")))[0]))
        for what, folder, expected in (("an object missing", incomplete, "does not pass its check"),
                                       ("the server ahead", old_release, "holds a newer release")):
            with self.subTest(what):
                before = len(self.puts())
                result = self.upload(folder)
                self.assertEqual(result.returncode, 1)
                self.assertIn(expected, result.stderr)
                self.assertEqual(self.puts()[before:], [])

    def test_a_second_release_sends_only_the_objects_that_changed(self):
        # bench/upload_bytes.py measures the bytes this sends.
        helpers.write_files(self.source, helpers.game_files(72))
        local = os.path.join(self.folder, "local remote", "patch", "ktvx")
        remotes = (("varnholdtest:patch/ktvx/", os.path.join(self.root, "patch", "ktvx")), (local, local))
        self.build("144")
        self.assertEqual([self.upload(self.out, remote=remote).returncode for remote, _ in remotes], [0, 0])
        helpers.write_files(self.source, {"Scripts/file003.lua": b"3", "Scripts/file040.lua": b"4", "mss32.dll": b"MZ"})
        self.build("145")
        objects, earlier = (set(os.listdir(os.path.join(self.out, version, "files"))) for version in ("145", "144"))
        changed = objects - earlier
        self.assertEqual(len(changed), 4)  # the three files and the bundle
        for remote, root in remotes:
            with self.subTest(remote):
                # A stopped upload left objects cut short under their names: this one replaces them (the
                # unchanged one by a copy, or sent again).
                cut = min(objects - changed)
                for name in (min(changed), cut):
                    helpers.write(os.path.join(root, "145", "files", name), b"cut")
                puts, copies = len(self.puts(branch="patch/ktvx/")), len(self.puts("COPY", "patch/ktvx/"))
                result = self.upload(self.out, remote=remote)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(helpers.run("verify", "--base", root, "--public-key", self.public).returncode, 0)
                if root == local:
                    self.assertIn("%d objects are hard links" % len(objects - changed), result.stdout)
                    self.assertEqual(*[{name: os.stat(os.path.join(local, release, "files", name)).st_ino
                                        for name in objects - changed} for release in ("144", "145")])
                    continue
                self.assertEqual(set(self.puts(branch="patch/ktvx/")[puts:]) - {"145/files/" + cut},
                                 {"145/files/" + name for name in changed} |
                                 {"145/checksums.txt", "145/checksums.sig", "latest.sig", "latest.txt"})
                self.assertEqual(set(self.puts("COPY", "patch/ktvx/")[copies:]) - {"144/files/" + cut},
                                 {"144/files/" + name for name in objects - changed - {cut}})

if __name__ == "__main__":
    unittest.main()
