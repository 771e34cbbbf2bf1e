"""verify against a published branch served over HTTPS on loopback."""

import gzip
import os
import re
import shutil
import unittest

import helpers
from publisher import formats


class Verify(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = helpers.scratch("verify")
        cls.private, cls.public, cls.key = helpers.key_pair()
        cls.source = os.path.join(cls.folder, "source")
        cls.good = os.path.join(cls.folder, "good")
        helpers.write_files(cls.source, helpers.game_files())
        helpers.write_files(cls.folder, {"news.txt": b"Title\nText\n2026-12-08\nhttps://example.org\n"})
        result = helpers.run("build", "--private-key", cls.private, "--source", cls.source, "--out", cls.good,
                             "--version", "144", "--news", os.path.join(cls.folder, "news.txt"))
        assert result.returncode == 0, result.stderr
        cls.www = os.path.join(cls.folder, "www")
        os.makedirs(cls.www)
        cls.server = helpers.HttpsServer(cls.www)
        with open(os.path.join(cls.good, "latest.txt"), "rb") as source:
            cls.pack = formats.parse_ini_root(source.read())["pack"]
        with open(os.path.join(cls.good, "144", "checksums.txt"), "rb") as source:
            cls.entries, _ = formats.parse_manifest(source.read())

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def branch(self, name):
        """A copy of the good branch served as /name."""
        folder = os.path.join(self.www, name)
        shutil.copytree(self.good, folder)
        return folder

    def verify(self, name, *extra):
        return helpers.run("verify", "--base", self.server.url(name), "--public-key", self.public,
                           "--ca-file", self.server.ca_file, *extra)

    def object_path(self, branch, path):
        entry = next(e for e in self.entries if e.path == path)
        return os.path.join(branch, "144", "files", entry.sha256 + ".gz")

    def test_a_good_branch_passes(self):
        self.branch("good")
        result = self.verify("good")
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertIn("144/files: 63 objects checked", result.stdout)
        self.assertIn("news.txt: 1 items shown in Russian, 1 in English", result.stdout)
        self.assertIn("no problems found", result.stdout)

    def test_each_fault_is_named(self):
        def flip_byte(branch):
            path = self.object_path(branch, "Imgs/big.png")
            with open(path, "r+b") as target:
                target.seek(40)
                byte = target.read(1)
                target.seek(40)
                target.write(bytes([byte[0] ^ 0x20]))

        def remove_object(branch):
            os.remove(self.object_path(branch, "Scripts/file007.lua"))

        def other_signature(branch):
            with open(os.path.join(branch, "latest.txt"), "rb") as source:
                text = source.read()
            with open(os.path.join(branch, "latest.sig"), "wb") as target:
                target.write(helpers.key_pair("other")[2].sign(text))

        def cut_bundle(branch):
            # A bundle whose container ends inside its last record, published and announced as such.
            path = os.path.join(branch, "144", "files", self.pack + ".gz")
            with open(path, "rb") as source:
                container = gzip.decompress(source.read())
            os.remove(path)
            cut = formats.gzip_bytes(container[:-10])
            with open(os.path.join(branch, "144", "files", formats.sha256_hex(cut) + ".gz"), "wb") as target:
                target.write(cut)
            with open(os.path.join(branch, "latest.txt"), "rb") as source:
                text = re.sub(rb"pack=.*\npack_size=.*\n", b"pack=%s\npack_size=%d\n" % (
                    formats.sha256_hex(cut).encode(), len(cut)), source.read())
            with open(os.path.join(branch, "latest.txt"), "wb") as target:
                target.write(text)
            with open(os.path.join(branch, "latest.sig"), "wb") as target:
                target.write(self.key.sign(text))

        def bad_news_signature(branch):
            with open(os.path.join(branch, "news.sig"), "r+b") as target:
                target.write(b"\0")

        last = [entry for entry in self.entries if entry.size <= 65536][-1]
        cases = [
            ("flipped byte", flip_byte, "Imgs/big.png) has the SHA-256"),
            ("missing object", remove_object, "(Scripts/file007.lua) is missing"),
            ("wrong signature", other_signature, "latest.sig does not verify latest.txt with this public"),
            ("cut bundle", cut_bundle, "record %s is cut short (%d of %d bytes)" % (
                last.path, last.size - 10, last.size)),
            ("news signature", bad_news_signature, "news.sig does not verify news.txt"),
        ]
        for number, (what, damage, expected) in enumerate(cases):
            with self.subTest(what):
                name = "case%d" % number
                damage(self.branch(name))
                result = self.verify(name)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(expected, result.stdout)

    def test_server_that_is_not_trusted_or_not_there(self):
        self.branch("trust")
        result = helpers.run("verify", "--base", self.server.url("trust"), "--public-key", self.public)
        self.assertEqual(result.returncode, 1)
        self.assertIn("certificate is not trusted", result.stdout)
        result = self.verify("nothing")
        self.assertEqual(result.returncode, 1)
        self.assertIn("latest.txt is not published", result.stdout)


if __name__ == "__main__":
    unittest.main()
