#!/usr/bin/env python3
"""The emulated 32-bit Wine's root holds bind mounts of /tmp, /dev and checkouts: stopping it for one
checkout, stopping it all, or removing it must end what runs there and never reach through a mount
into the folder mounted there.

Usage: wine32_root_test.py   (as root: it mounts; run by scripts/test.sh)

Each case makes a small root of its own in a scratch folder (copies of /bin/sh and /bin/sleep with
their libraries; nothing of the machine is mounted into it), mounts scratch folders into it the way
the set-up mounts /tmp and checkouts (a checkout at its own path, one with a blank in it), starts a
process working in each, and runs scripts/wine32-stop.sh against it (VARNHOLD_WINE32_ROOT).
"""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
STOP = os.path.join(ROOT, "scripts", "wine32-stop.sh")


def mount_points():
    with open("/proc/mounts", encoding="utf-8") as mounts:
        return [line.split()[1].encode().decode("unicode_escape") for line in mounts]


def libraries(program):
    listed = subprocess.run(["ldd", program], capture_output=True, text=True, check=True).stdout
    return [word for word in listed.split() if word.startswith("/")]


@unittest.skipUnless(os.geteuid() == 0, "mounting needs root")
class StopNeverReachesThroughAMount(unittest.TestCase):
    def make_root(self):
        """The scratch root with /tmp and two checkouts mounted, a process working in each."""
        self.scratch = tempfile.mkdtemp(prefix="wine32-root-test.", dir="/var/tmp")
        self.root = os.path.join(self.scratch, "root")
        for program in ("/bin/sh", "/bin/sleep"):
            for path in [program] + libraries(program):
                os.makedirs(os.path.dirname(self.root + path), exist_ok=True)
                shutil.copy2(os.path.realpath(path), self.root + path)
        self.one = os.path.join(self.scratch, "one")
        self.two = os.path.join(self.scratch, "two checkout")
        tmp = os.path.join(self.scratch, "tmp")
        self.processes = {}
        for source, inside in ((tmp, "/tmp"), (self.one, self.one), (self.two, self.two)):
            os.makedirs(source)
            with open(os.path.join(source, "keep.txt"), "w", encoding="utf-8") as keep:
                keep.write(source)
            os.makedirs(self.root + inside, exist_ok=True)
            subprocess.run(["mount", "--bind", source, self.root + inside], check=True)
            self.processes[inside] = subprocess.Popen(
                ["chroot", self.root, "/bin/sh", "-c", f"cd '{inside}' && exec /bin/sleep 300"])
        self.sources = [tmp, self.one, self.two]
        time.sleep(0.3)

    def clean_up(self):
        for process in self.processes.values():
            process.kill()
            process.wait()
        for point in sorted((p for p in mount_points() if p.startswith(self.scratch)), key=len, reverse=True):
            subprocess.run(["umount", "-l", point], check=False)
        if not any(p.startswith(self.scratch) for p in mount_points()):
            shutil.rmtree(self.scratch)

    def test_stop_ends_what_runs_there_unmounts_and_removes_nothing_mounted(self):
        cases = [
            # (what, arguments, the places whose mount and process go, the root is removed)
            ("one checkout", lambda: [self.one], lambda: [self.one], False),
            ("everything", lambda: ["--all"], lambda: ["/tmp", self.one, self.two], False),
            ("removal", lambda: ["--remove"], lambda: ["/tmp", self.one, self.two], True),
        ]
        for what, arguments, going, removed in cases:
            with self.subTest(what):
                self.make_root()
                try:
                    result = subprocess.run([STOP, *arguments()], env=dict(os.environ, VARNHOLD_WINE32_ROOT=self.root),
                                            capture_output=True, text=True, timeout=120)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    time.sleep(0.2)
                    mounted = mount_points()
                    for inside, process in self.processes.items():
                        gone = inside in going()
                        self.assertEqual(self.root + inside in mounted, not gone, inside)
                        self.assertEqual(process.poll() is not None, gone, inside)
                    self.assertEqual(not os.path.exists(self.root), removed)
                    for source in self.sources:
                        with open(os.path.join(source, "keep.txt"), encoding="utf-8") as keep:
                            self.assertEqual(keep.read(), source)
                finally:
                    self.clean_up()


if __name__ == "__main__":
    unittest.main()
