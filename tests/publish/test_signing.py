"""The release script's check of the code-signing inputs, which must stop it before the build."""

import os
import shutil
import subprocess
import unittest

import helpers


def _openssl(folder, *arguments):
    subprocess.run(("openssl",) + arguments, cwd=folder, check=True, capture_output=True, timeout=60)


class SigningInputs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # A team's certificate from a private CA, as a PFX and as PEM files; and a key of another.
        cls.folder = folder = helpers.scratch("signing")
        _openssl(folder, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Team CA",
                 "-addext", "basicConstraints=critical,CA:TRUE", "-keyout", "ca.key", "-out", "ca.pem")
        _openssl(folder, "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Team Signing", "-keyout", "key.pem",
                 "-out", "cert.csr")
        helpers.write(os.path.join(folder, "cert.ext"), b"keyUsage=critical,digitalSignature\n"
                      b"extendedKeyUsage=codeSigning\nbasicConstraints=CA:FALSE\n")
        _openssl(folder, "x509", "-req", "-in", "cert.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                 "-days", "2", "-extfile", "cert.ext", "-out", "cert.pem")
        _openssl(folder, "pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem", "-certfile", "ca.pem",
                 "-out", "team.pfx", "-passout", "pass:right")
        _openssl(folder, "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", "other.key")
        # The script from a folder that holds no sources: a check that let it go on to the build
        # would fail at once instead of building for minutes.
        os.makedirs(os.path.join(folder, "root", "scripts"))
        for script in ("release.sh", "deployment-values.sh"):
            shutil.copy(os.path.join(helpers.ROOT, "scripts", script), os.path.join(folder, "root", "scripts"))
        values = ["VARNHOLD_%s=https://x.example/%s" % pair for pair in (
            ("PRIMARY_SERVER_URL", "patch"), ("FALLBACK_SERVER_URL", "patch"), ("RATING_QUERY_URL", "v1/top?diff="),
            ("RATING_PAGE_URL", "#rating"), ("CLIENT_PAGE_URL_LURRA", "l"), ("CLIENT_PAGE_URL_KTVX", "k"))]
        values.append("VARNHOLD_PUBLIC_KEY_FILE=" + helpers.key_pair()[1])
        helpers.write(os.path.join(folder, "values.txt"), "\n".join(values).encode() + b"\n")

    def test_signing_inputs_are_checked_before_the_build(self):
        pfx = ("--pfx", "team.pfx", "--password-env", "PFX_PASSWORD")
        cases = [  # what, options, password, exit code, expected text
            ("good PFX, checked only", pfx + ("--ca-file", "ca.pem", "--check"), "right", 0,
             "the signing inputs sign and verify: /CN=Team Signing"),
            ("good key and certificate", ("--key", "key.pem", "--cert", "cert.pem", "--ca-file", "ca.pem",
                                          "--check"), "", 0, "nothing built"),
            ("wrong password", pfx + ("--ca-file", "ca.pem"), "wrong", 1, "is the password right?"),
            ("private CA without --ca-file", pfx, "right", 1, "give --ca-file with the CA's certificate"),
            ("key of another certificate", ("--key", "other.key", "--cert", "cert.pem", "--ca-file", "ca.pem"),
             "", 1, "does not belong to a certificate of"),
        ]
        for what, options, password, code, expected in cases:
            with self.subTest(what):
                result = subprocess.run(
                    [os.path.join(self.folder, "root", "scripts", "release.sh"), "--values", "values.txt",
                     *options], cwd=self.folder, env=dict(os.environ, PFX_PASSWORD=password),
                    capture_output=True, text=True, timeout=120)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                self.assertIn(expected, result.stdout + result.stderr)
                self.assertNotIn("building the launcher", result.stdout)


if __name__ == "__main__":
    unittest.main()
