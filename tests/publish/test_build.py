"""The publisher's keys, path rules and builds."""

import contextlib
import io
import os
import re
import shutil
import subprocess
import unittest
from unittest import mock

import helpers
from helpers import read
from publisher import formats, keys, release

import release_builder


def _openssl(*arguments, data=b""):
    return subprocess.run(("openssl",) + arguments, input=data, capture_output=True, timeout=60)


class Keys(unittest.TestCase):
    def test_keys_and_signatures_of_the_earlier_publisher_stay_valid(self):
        # data/old_tool_*: a throw-away key pair written by the publisher's earlier keygen (its own
        # RSA code; PKCS#8 and the 451-character public key) and its signature of these bytes.
        text = b"game_version=144\r\nlauncher_version=117\n"
        data = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
        private, public = (read(os.path.join(data, "old_tool_%s.pem" % half)).decode()
                           for half in ("private", "public"))
        signature = read(os.path.join(data, "old_tool_signed.sig"))
        key = keys.load_private_key(private)
        self.assertEqual((key.pem(), key.public().pem()), (private, public))
        self.assertEqual(key.sign(text), signature)
        self.assertTrue(keys.load_public_key(public).verify(text, signature))
        self.assertFalse(keys.load_public_key(public).verify(text + b" ", signature))

    def test_keygen_writes_the_form_the_build_takes_and_openssl_agrees(self):
        private, public, key = helpers.key_pair()
        text = read(public).decode()
        self.assertEqual(len(text), 451)
        self.assertIsNone(keys.public_key_text_problem(text))
        self.assertEqual([len(line) for line in text.split("\n")[1:8]], [64] * 6 + [8])
        if os.name == "posix":
            self.assertEqual(os.stat(private).st_mode & 0o077, 0)
        self.assertEqual(_openssl("pkey", "-in", private, "-check", "-noout").returncode, 0)
        self.assertEqual(_openssl("pkey", "-in", private, "-pubout").stdout.decode(), text)
        signature = os.path.join(os.path.dirname(private), "text.sig")
        helpers.write(signature, key.sign(b"game_version=144\n"))
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
            self.assertEqual(keys.load_private_key(read(path).decode()).sign(b"news\r\n"), expected)
        public = keys.load_public_key(_openssl("pkey", "-in", pkcs8, "-pubout").stdout.decode())
        self.assertTrue(public.verify(b"news\r\n", expected))
        self.assertFalse(public.verify(b"news\n", expected))


def path_cases():
    """The rows of the table that the launcher's manifest test reads too."""
    text = read(os.path.join(helpers.ROOT, "tests", "update", "manifest_path_cases.inc"))
    text = text.split(b"\n", 1)[1].rsplit(b')cases"', 1)[0]
    for line in text.split(b"\n"):
        if not line or line.startswith(b"#"):
            continue
        fields = line.split(b"\t")
        unescape = lambda path: re.sub(rb"\\x([0-9A-Fa-f]{2})", lambda m: bytes([int(m.group(1), 16)]), path)
        yield fields[0] == b"accept", fields[1] == b"refuse", fields[2].decode(), [
            unescape(p).decode("utf-8", "surrogateescape") for p in fields[3:]]


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

    def descriptor(self, out=None):
        return formats.parse_ini_root(read(os.path.join(out or self.out, "latest.txt")))

    def test_release_then_the_next_then_the_same_again(self):
        helpers.write_files(self.source, helpers.game_files())
        helpers.write_files(self.folder, {"launcher.exe": b"MZ launcher 1.17",
                                          "news.txt": "\ufeff[news]\ntitle_ru=\u0422\nurl_en=u\n".encode()})
        extra = ("--display-version", "1.44 final", "--launcher", os.path.join(self.folder, "launcher.exe"),
                 "--launcher-version", "1.17", "--news-v2", os.path.join(self.folder, "news.txt"))
        result = self.build(*extra)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("removed the UTF-8 byte-order mark", result.stdout)
        self.assertIn("Russian interface drops it", result.stdout)
        descriptor = self.descriptor()
        keys = ("launcher_version", "launcher_size", "display_version")
        self.assertEqual([descriptor[key] for key in keys], ["117", "16", "1.44 final"])
        self.assertEqual(len(descriptor["pack"]), 64)
        check = self.verify()
        self.assertEqual(check.returncode, 0, check.stdout)
        self.assertIn("bundle: 60 records", check.stdout)
        # The same input gives the same bytes, wherever it is built.
        again = os.path.join(self.folder, "again")
        self.assertEqual(self.build(*extra, out=again).returncode, 0)
        self.assertEqual(helpers.snapshot(again), helpers.snapshot(self.out))

        # The next release switches the descriptor and keeps the launcher it does not name.
        helpers.write_files(self.source, {"Scripts/file001.lua": b"changed"})
        result = self.build(version="145")
        self.assertEqual(result.returncode, 0, result.stderr)
        # What the two releases share is one file on disk: only the changed file and the bundle are new.
        folders = [os.path.join(self.out, version, "files") for version in ("144", "145")]
        inodes = [{name: os.stat(os.path.join(folder, name)).st_ino for name in os.listdir(folder)}
                  for folder in folders]
        self.assertEqual(len(set(inodes[1]) - set(inodes[0])), 2)
        self.assertEqual({inodes[0][name] for name in inodes[1] if name in inodes[0]},
                         {inodes[1][name] for name in inodes[1] if name in inodes[0]})
        self.assertIn("; 62 objects are hard links to release 144's", result.stdout)
        descriptor = self.descriptor()
        self.assertEqual((descriptor["game_version"], descriptor["launcher_version"]), ("145", "117"))
        self.assertEqual(descriptor["launcher_checksum"], formats.sha256_hex(b"MZ launcher 1.17"))
        self.assertTrue(os.path.isfile(os.path.join(self.out, "144", "checksums.txt")))
        self.assertFalse(os.path.exists(os.path.join(self.out, release.STAGING)))
        self.assertEqual(self.verify().returncode, 0)
        # Published again with --force: the objects no longer listed go, the release verifies.
        helpers.write_files(self.source, {"Scripts/file001.lua": b"changed again"})
        self.assertEqual(self.build("--force", version="145").returncode, 0)
        manifest = read(os.path.join(self.out, "145", "checksums.txt"))
        listed = {line.split(b"\t")[4] + b".gz" for line in manifest.splitlines()}
        objects = set(name.encode() for name in os.listdir(os.path.join(self.out, "145", "files")))
        self.assertEqual(objects - listed, {self.descriptor()["pack"].encode() + b".gz"} - listed)
        self.assertEqual(self.verify().returncode, 0)

    def test_bundle_only_when_it_holds_enough_small_files(self):
        for small, options, bundled in ((49, (), False), (50, (), True), (60, ("--no-bundle",), False),
                                        (10, ("--bundle-min-files", "10"), True),
                                        (60, ("--bundle-max-size", "100"), False)):
            with self.subTest(small=small, options=options):
                source, out = (os.path.join(self.folder, "%s%d%s" % (side, small, options)) for side in "so")
                helpers.write_files(source, helpers.game_files(small))
                self.assertEqual(self.build(*options, source=source, out=out).returncode, 0)
                self.assertEqual("pack" in self.descriptor(out), bundled)

    def test_refusals_name_the_cause_and_write_nothing(self):
        helpers.write_files(self.source, helpers.game_files(5))
        self.assertEqual(self.build().returncode, 0)
        before = helpers.snapshot(self.out)
        other = os.path.join(self.folder, "other.pem")
        helpers.write(other, helpers.key_pair("other")[2].public().pem().encode())
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
            ("another key pair", {}, ("--public-key", other), "does not belong"),
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
                if "--public-key" not in options:  # keys that do not match fail the check, no refusal
                    self.assertIn("refused, nothing was written", result.stderr)
                self.assertIn(expected, result.stderr)
                self.assertEqual(helpers.snapshot(self.out), before)

    def test_a_key_other_than_the_branchs_is_refused_before_anything_is_written(self):
        helpers.write_files(self.source, helpers.game_files(5))
        self.assertEqual(self.build().returncode, 0)
        memory = os.path.join(self.out, release.KEY_MEMORY)
        self.assertEqual(read(memory), read(self.public))
        forgotten = os.path.join(self.folder, "published before the branch remembered its key")
        shutil.copytree(self.out, forgotten)
        os.remove(os.path.join(forgotten, release.KEY_MEMORY))
        other = helpers.key_pair("other")
        for out in (self.out, forgotten):
            with self.subTest(out):
                before = helpers.snapshot(out)
                result = self.build("--private-key", other[0], out=out, version="145")
                self.assertEqual(result.returncode, 1)
                self.assertIn("does not belong to the key this branch's releases are signed", result.stderr)
                self.assertEqual(helpers.snapshot(out), before)
        self.assertEqual(self.build(out=forgotten, version="145").returncode, 0)
        self.assertEqual(read(os.path.join(forgotten, release.KEY_MEMORY)), read(self.public))
        # A change of keys, asked for: the branch remembers the new key and refuses the old one.
        self.assertEqual(self.build("--private-key", other[0], "--change-key", version="145").returncode, 0)
        self.assertEqual(read(memory), read(other[1]))
        self.assertEqual(self.build(version="146").returncode, 1)

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
        self.assertIsNotNone(trees[0].pop(release.KEY_MEMORY))
        self.assertEqual(trees[0], trees[1])


if __name__ == "__main__":
    unittest.main()
