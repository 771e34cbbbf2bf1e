"""The publisher's keys, path rules and builds."""

import contextlib
import io
import os
import re
import subprocess
import unittest
from unittest import mock

import helpers
from publisher import formats, release, rsa

import release_builder


def _openssl(*arguments, data=b""):
    return subprocess.run(("openssl",) + arguments, input=data, capture_output=True, timeout=60)


class Keys(unittest.TestCase):
    def test_keygen_writes_the_form_the_build_takes_and_openssl_agrees(self):
        private, public, key = helpers.key_pair()
        with open(public) as source:
            text = source.read()
        self.assertEqual(len(text), 451)
        self.assertIsNone(rsa.public_key_text_problem(text))
        self.assertEqual([len(line) for line in text.split("\n")[1:8]], [64] * 6 + [8])
        if os.name == "posix":
            self.assertEqual(os.stat(private).st_mode & 0o077, 0)
        self.assertEqual(_openssl("pkey", "-in", private, "-check", "-noout").returncode, 0)
        self.assertEqual(_openssl("pkey", "-in", private, "-pubout").stdout.decode(), text)
        signature = os.path.join(os.path.dirname(private), "text.sig")
        with open(signature, "wb") as target:
            target.write(key.sign(b"game_version=144\n"))
        verified = _openssl("dgst", "-sha256", "-verify", public, "-signature", signature,
                            data=b"game_version=144\n")
        self.assertEqual(verified.returncode, 0, verified.stderr)
        # keygen never replaces a key.
        again = helpers.run("keygen", "--private-key", private, "--public-key", public + "2")
        self.assertEqual(again.returncode, 1)
        self.assertFalse(os.path.exists(public + "2"))

    def test_keys_made_by_openssl_sign_as_openssl_does(self):
        folder = helpers.scratch("openssl-keys")
        pkcs8, pkcs1 = os.path.join(folder, "pkcs8.pem"), os.path.join(folder, "pkcs1.pem")
        _openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", pkcs8)
        _openssl("rsa", "-in", pkcs8, "-traditional", "-out", pkcs1)
        expected = _openssl("dgst", "-sha256", "-sign", pkcs8, data=b"news\r\n").stdout
        for path in (pkcs8, pkcs1):
            with open(path) as source:
                self.assertEqual(rsa.load_private_key(source.read()).sign(b"news\r\n"), expected)
        public = rsa.load_public_key(_openssl("pkey", "-in", pkcs8, "-pubout").stdout.decode())
        self.assertTrue(public.verify(b"news\r\n", expected))
        self.assertFalse(public.verify(b"news\n", expected))


def path_cases():
    """The rows of the table that the launcher's manifest test reads too."""
    with open(os.path.join(helpers.ROOT, "tests", "update", "manifest_path_cases.inc"), "rb") as source:
        text = source.read().split(b"\n", 1)[1].rsplit(b')cases"', 1)[0]
    for line in text.split(b"\n"):
        if not line or line.startswith(b"#"):
            continue
        fields = line.split(b"\t")
        paths = [re.sub(rb"\\(x[0-9A-Fa-f]{2}|.)", lambda m: bytes([int(m.group(1)[1:], 16)]) if len(
            m.group(1)) == 3 else {b"t": b"\t"}.get(m.group(1), m.group(1)), p) for p in fields[3:]]
        yield fields[0] == b"accept", fields[1] == b"refuse", fields[2].decode(), [
            p.decode("utf-8", "surrogateescape") for p in paths]


class Paths(unittest.TestCase):
    def test_table_of_path_cases(self):
        cases = list(path_cases())
        self.assertGreaterEqual(len(cases), 50)
        for accepted, refused, what, paths in cases:
            with self.subTest(what):
                # The publisher's reading of a manifest decides as the launcher does.
                lines = (formats.ManifestEntry(p, 10, 5, "0A1B2C3D", "a" * 64) for p in paths)
                _, problem = formats.parse_manifest(formats.manifest_bytes(lines))
                self.assertEqual(problem is None, accepted, problem)
                self.assertEqual(bool(release.path_reasons(paths)), refused, release.path_reasons(paths))


class Build(unittest.TestCase):
    def setUp(self):
        self.folder = helpers.scratch(self._testMethodName)
        self.source = os.path.join(self.folder, "source")
        self.out = os.path.join(self.folder, "www", "lurra")
        self.private, self.public, self.key = helpers.key_pair()

    def build(self, *extra, source=None, out=None, version="144"):
        return helpers.run("build", "--private-key", self.private, "--source", source or self.source,
                           "--out", out or self.out, "--version", version, *extra)

    def verify(self, out=None):
        return helpers.run("verify", "--base", out or self.out, "--public-key", self.public)

    def test_release_with_launcher_news_and_bundle_verifies_and_is_reproducible(self):
        helpers.write_files(self.source, helpers.game_files())
        helpers.write_files(self.folder, {"launcher.exe": b"MZ launcher 1.17",
                                          "news.txt": "\ufeff[news]\ntitle_ru=\u0422\nurl_en=u\n".encode()})
        extra = ("--display-version", "1.44 final", "--launcher", os.path.join(self.folder, "launcher.exe"),
                 "--launcher-version", "1.17", "--news-v2", os.path.join(self.folder, "news.txt"))
        result = self.build(*extra)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("removed the UTF-8 byte-order mark", result.stdout)
        self.assertIn("Russian interface drops it", result.stdout)
        with open(os.path.join(self.out, "latest.txt"), "rb") as source:
            descriptor = formats.parse_ini_root(source.read())
        self.assertEqual(descriptor["launcher_version"], "117")
        self.assertEqual(descriptor["launcher_size"], "16")
        self.assertEqual(descriptor["display_version"], "1.44 final")
        self.assertEqual(len(descriptor["pack"]), 64)
        check = self.verify()
        self.assertEqual(check.returncode, 0, check.stdout)
        self.assertIn("bundle: 60 records", check.stdout)
        # The same input gives the same bytes, wherever it is built.
        again = os.path.join(self.folder, "again")
        self.assertEqual(self.build(*extra, out=again).returncode, 0)
        self.assertEqual(helpers.snapshot(again), helpers.snapshot(self.out))

    def test_bundle_only_when_it_holds_enough_small_files(self):
        for small, options, bundled in ((49, (), False), (50, (), True), (60, ("--no-bundle",), False),
                                        (10, ("--bundle-min-files", "10"), True),
                                        (60, ("--bundle-max-size", "100"), False)):
            with self.subTest(small=small, options=options):
                source, out = os.path.join(self.folder, "s%d%s" % (small, options)), os.path.join(
                    self.folder, "o%d%s" % (small, options))
                helpers.write_files(source, helpers.game_files(small))
                self.assertEqual(self.build(*options, source=source, out=out).returncode, 0)
                with open(os.path.join(out, "latest.txt"), "rb") as text:
                    self.assertEqual("pack" in formats.parse_ini_root(text.read()), bundled)

    def test_next_release_switches_the_descriptor_and_keeps_the_launcher(self):
        helpers.write_files(self.source, helpers.game_files())
        helpers.write_files(self.folder, {"launcher.exe": b"MZ 1.17"})
        launcher = ("--launcher", os.path.join(self.folder, "launcher.exe"), "--launcher-version", "117")
        self.assertEqual(self.build(*launcher).returncode, 0)
        helpers.write_files(self.source, {"Scripts/file001.lua": b"changed"})
        result = self.build(version="145")
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.out, "latest.txt"), "rb") as source:
            descriptor = formats.parse_ini_root(source.read())
        self.assertEqual((descriptor["game_version"], descriptor["launcher_version"]), ("145", "117"))
        self.assertEqual(descriptor["launcher_checksum"], formats.sha256_hex(b"MZ 1.17"))
        self.assertTrue(os.path.isfile(os.path.join(self.out, "144", "checksums.txt")))
        self.assertFalse(os.path.exists(os.path.join(self.out, release.STAGING)))
        self.assertEqual(self.verify().returncode, 0)
        # Published again with --force: the objects no longer listed go, the release verifies.
        helpers.write_files(self.source, {"Scripts/file001.lua": b"changed again"})
        self.assertEqual(self.build("--force", version="145").returncode, 0)
        with open(os.path.join(self.out, "145", "checksums.txt"), "rb") as source:
            listed = {line.split(b"\t")[4] + b".gz" for line in source.read().splitlines()}
        with open(os.path.join(self.out, "latest.txt"), "rb") as source:
            descriptor = formats.parse_ini_root(source.read())
        objects = set(name.encode() for name in os.listdir(os.path.join(self.out, "145", "files")))
        self.assertEqual(objects - listed, {descriptor["pack"].encode() + b".gz"} - listed)
        self.assertEqual(self.verify().returncode, 0)

    def test_refusals_name_the_cause_and_write_nothing(self):
        helpers.write_files(self.source, helpers.game_files(5))
        self.assertEqual(self.build().returncode, 0)
        before = helpers.snapshot(self.out)
        cases = [
            ("unsafe path", {"Scripts/.svn/entries": b"x"}, (), "begins with \".\""),
            ("outside the folders", {"Readme.txt": b"x"}, (), "outside the game's data folders"),
            ("case clash", {"Scripts/FILE001.lua": b"x"}, (), "only in letter case"),
            ("temporary name", {"Imgs/big.png.new": b"x"}, (), "temporary copy of Imgs/big.png"),
            ("too long", {"Imgs/" + "x" * 190: b"x"}, (), "longer than 180"),
            ("version not above", {}, ("--version", "144"), "not above 144"),
            ("bad display version", {}, ("--display-version", "1.45 # beta"), "cuts the value off"),
            ("missing launcher", {}, ("--launcher", "no.exe", "--launcher-version", "117"), "cannot be read"),
            ("launcher without version", {}, ("--launcher", self.private), "--launcher-version"),
            ("not a program", {}, ("--launcher", self.private, "--launcher-version", "117"), "not a Windows"),
            ("missing news", {}, ("--news-v2", "nowhere.txt"), "cannot be read"),
            ("missing source", None, (), "does not exist"),
            ("branch inside the source", {}, ("--out", os.path.join(self.folder, "branch inside the source",
                                                                    "www"), "--version", "145"), "lie apart"),
        ]
        for what, added, options, expected in cases:
            with self.subTest(what):
                source = os.path.join(self.folder, what)
                if added is not None:
                    helpers.write_files(source, dict(helpers.game_files(5), **added))
                arguments = list(options) if "--version" in options else list(options) + ["--version", "145"]
                result = helpers.run("build", "--private-key", self.private, "--source", source, "--out",
                                     self.out, *arguments)
                self.assertEqual(result.returncode, 1)
                self.assertIn("refused, nothing was written", result.stderr)
                self.assertIn(expected, result.stderr)
                self.assertEqual(helpers.snapshot(self.out), before)
        other = os.path.join(self.folder, "other.pem")
        with open(other, "w") as target:
            target.write(helpers.key_pair("other")[2].public().pem())
        result = self.build("--public-key", other, version="145")
        self.assertEqual(result.returncode, 1)
        self.assertIn("does not belong", result.stderr)
        self.assertEqual(helpers.snapshot(self.out), before)

    def test_a_build_that_fails_half_way_leaves_the_served_branch_as_it_was(self):
        helpers.write_files(self.source, helpers.game_files())
        options = release.Options(source=self.source, out=self.out, version=144, key=self.key)
        release.build(options, log=lambda _: None)
        before = helpers.snapshot(self.out)
        helpers.write_files(self.source, {"Scripts/file001.lua": b"new"})
        options.version = 145
        replace = release._replace

        def last_step_fails(source, target):
            if target.endswith("latest.sig"):
                raise OSError("disk full")
            replace(source, target)
        for step, patch in (("staging", mock.patch.object(release, "_sign_into", side_effect=OSError)),
                            ("switch", mock.patch.object(release, "_replace", last_step_fails))):
            with self.subTest(step), patch:
                self.assertRaises(OSError, release.build, options, lambda _: None)
                self.assertEqual(helpers.snapshot(self.out), before)

    def test_fixture_builder_writes_normal_releases_through_the_publisher(self):
        helpers.write_files(self.source, helpers.game_files(8))
        trees = []
        # --json makes the fixture write the release itself; its own assembly of the formats must
        # give the publisher's bytes.
        for extra in ([], ["--json"]):
            out = os.path.join(self.folder, str(len(extra)))
            with contextlib.redirect_stdout(io.StringIO()):
                self.assertEqual(release_builder.main(
                    ["build", "--key", self.private, "--out", out, "--version", "144", "--source",
                     self.source,
                     "--display-version", "1.44", "--bundle-max-size", "1000"] + extra), 0)
            trees.append(helpers.snapshot(out))
        self.assertIsNotNone(trees[0].pop(release.LOCK))
        self.assertEqual(trees[0], trees[1])

if __name__ == "__main__":
    unittest.main()
