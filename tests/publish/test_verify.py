"""verify against a published branch served over HTTPS on loopback."""

import gzip
import os
import re
import shutil
import unittest

import helpers
from helpers import read, write
from publisher import formats


class Verify(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = helpers.scratch("verify")
        cls.private, cls.public, cls.key = helpers.key_pair()
        cls.good, source, news = (os.path.join(cls.folder, name) for name in ("good", "source", "news.txt"))
        helpers.write_files(source, helpers.game_files())
        write(news, b"Title\nText\n2026-12-08\nhttps://example.org\n")
        result = helpers.run("build", "--private-key", cls.private, "--source", source, "--out", cls.good,
                             "--version", "144", "--news", news)
        assert result.returncode == 0, result.stderr
        cls.www = os.path.join(cls.folder, "www")
        os.makedirs(cls.www)
        cls.server = helpers.HttpsServer(cls.www)
        cls.pack = formats.parse_ini_root(read(os.path.join(cls.good, "latest.txt")))["pack"]
        cls.entries, _ = formats.parse_manifest(read(os.path.join(cls.good, "144", "checksums.txt")))

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def object_path(self, branch, path, release="144"):
        entry = next(e for e in self.entries if e.path == path)
        return os.path.join(branch, release, "files", entry.sha256 + ".gz")

    def test_a_good_branch_passes_and_each_fault_is_named(self):
        def flip(path, at):
            data = bytearray(read(path))
            data[at] ^= 0x20
            write(path, bytes(data))

        def other_signature(branch):
            write(os.path.join(branch, "latest.sig"),
                  helpers.key_pair("other")[2].sign(read(os.path.join(branch, "latest.txt"))))

        def cut_bundle(branch):
            # A bundle whose container ends inside its last record, published and announced as such.
            path = os.path.join(branch, "144", "files", self.pack + ".gz")
            cut = formats.gzip_bytes(gzip.decompress(read(path))[:-10])
            os.remove(path)
            write(os.path.join(branch, "144", "files", formats.sha256_hex(cut) + ".gz"), cut)
            text = re.sub(rb"pack=.*\npack_size=.*\n", b"pack=%s\npack_size=%d\n" % (
                formats.sha256_hex(cut).encode(), len(cut)), read(os.path.join(branch, "latest.txt")))
            write(os.path.join(branch, "latest.txt"), text)
            write(os.path.join(branch, "latest.sig"), self.key.sign(text))

        def other_bytes_signed(branch):
            # An upload that stopped between latest.sig and latest.txt: the new signature, the old text.
            write(os.path.join(branch, "latest.sig"), self.key.sign(b"game_version=145\n"))

        def staged_release_cut_short(branch):
            # Release 145 uploaded beside 144 but stopped inside an object; latest.txt names 144 still.
            shutil.copytree(os.path.join(branch, "144"), os.path.join(branch, "145"))
            path = self.object_path(branch, "Imgs/big.png", "145")
            write(path, read(path)[:1000])

        last = [entry for entry in self.entries if entry.size <= 65536][-1]
        trusted = ("--ca-file", self.server.ca_file)
        cases = [  # what, how the copy of the good branch is spoiled (False: no copy), options, texts
            ("good", None, trusted, ["144/files: 63 objects checked", "no problems found",
                                     "news.txt: 1 items shown in Russian, 1 in English"]),
            ("flipped byte", lambda branch: flip(self.object_path(branch, "Imgs/big.png"), 40), trusted,
             ["Imgs/big.png) has the SHA-256"]),
            ("missing object", lambda branch: os.remove(self.object_path(branch, "Scripts/file007.lua")),
             trusted, ["(Scripts/file007.lua) is missing"]),
            ("wrong signature", other_signature, trusted,
             ["latest.sig does not verify latest.txt with this public"]),
            ("cut bundle", cut_bundle, trusted,
             ["record %s is cut short (%d of %d bytes)" % (last.path, last.size - 10, last.size)]),
            ("news signature", lambda branch: flip(os.path.join(branch, "news.sig"), 0), trusted,
             ["news.sig does not verify news.txt"]),
            ("other bytes signed", other_bytes_signed, trusted, ["this key's signature of other bytes"]),
            ("staged release cut short", staged_release_cut_short, trusted + ("--release", "145"),
             ["release 145 as asked (latest.txt names 144)", "(Imgs/big.png) is 1000 bytes, the manifest says"]),
            ("untrusted server", None, (), ["certificate is not trusted", "1 problem:"]),
            ("nothing published", False, trusted, ["latest.txt is not published"]),
        ]
        for number, (what, damage, options, expected) in enumerate(cases):
            with self.subTest(what):
                name = "case%d" % number
                if damage is not False:
                    shutil.copytree(self.good, os.path.join(self.www, name))
                if damage:
                    damage(os.path.join(self.www, name))
                result = helpers.run("verify", "--base", self.server.url(name), "--public-key", self.public,
                                     *options)
                self.assertEqual(result.returncode, 0 if what == "good" else 1, result.stdout)
                for text in expected:
                    self.assertIn(text, result.stdout)


if __name__ == "__main__":
    unittest.main()
