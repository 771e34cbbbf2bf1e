"""The release script's check of the code-signing inputs, which must stop it before the build."""

import os
import shutil
import subprocess
import unittest

import helpers


class SigningInputs(unittest.TestCase):
    def test_signing_inputs_are_checked_before_the_build(self):
        # A team's certificate from a private CA, as a PFX and as PEM files.
        folder = helpers.scratch("signing")
        helpers.write(os.path.join(folder, "ext"), b"extendedKeyUsage=codeSigning\n")
        for step in ("req -x509 -newkey rsa:2048 -nodes -subj /CN=CA -keyout ca.key -out ca.pem",
                     "req -newkey rsa:2048 -nodes -subj /CN=Team -keyout key.pem -out cert.csr",
                     "x509 -req -in cert.csr -CA ca.pem -CAkey ca.key -CAcreateserial -extfile ext "
                     "-out cert.pem",
                     "pkcs12 -export -inkey key.pem -in cert.pem -out team.pfx -passout pass:right"):
            subprocess.run(["openssl"] + step.split(), cwd=folder, check=True, capture_output=True,
                           timeout=60)
        # The script from a folder without sources: one that went on to the build would fail at once.
        os.makedirs(os.path.join(folder, "scripts"))
        for script in ("release.sh", "deployment-values.sh"):
            shutil.copy(os.path.join(helpers.ROOT, "scripts", script), os.path.join(folder, "scripts"))
        values = "".join("VARNHOLD_%s=https://x.example/%s\n" % pair for pair in (
            ("PRIMARY_SERVER_URL", "patch"), ("FALLBACK_SERVER_URL", "patch"), ("RATING_QUERY_URL", "v1/top?diff="),
            ("RATING_PAGE_URL", "#rating"), ("CLIENT_PAGE_URL_LURRA", "l"), ("CLIENT_PAGE_URL_KTVX", "k")))
        helpers.write(os.path.join(folder, "values.txt"),
                      (values + "VARNHOLD_PUBLIC_KEY_FILE=%s\n" % helpers.key_pair()[1]).encode())
        pfx = ("--pfx", "team.pfx", "--password-env", "PFX_PASSWORD")
        cases = [  # what, options, password, exit code, expected text
            ("good PFX", pfx + ("--ca-file", "ca.pem", "--check"), "right", 0, "sign and verify: /CN=Team"),
            ("good key and certificate", ("--key", "key.pem", "--cert", "cert.pem", "--ca-file", "ca.pem",
                                          "--check"), "", 0, "sign and verify: /CN=Team"),
            ("wrong password", pfx + ("--ca-file", "ca.pem"), "wrong", 1, "is the password right?"),
            ("private CA without --ca-file", pfx, "right", 1, "give --ca-file with the CA's certificate"),
        ]
        for what, options, password, code, expected in cases:
            with self.subTest(what):
                result = subprocess.run(
                    [os.path.join(folder, "scripts", "release.sh"), "--values", "values.txt", *options],
                    cwd=folder, env=dict(os.environ, PFX_PASSWORD=password), capture_output=True,
                    text=True, timeout=120)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                self.assertIn(expected, result.stdout + result.stderr)
                self.assertNotIn("building the launcher", result.stdout)


if __name__ == "__main__":
    unittest.main()
