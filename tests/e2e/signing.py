#!/usr/bin/env python3
"""A build signed with a certificate made here: every program the package installs, and the
package itself, carry a signature that verifies against that certificate.
    signing.py SOURCE BUILD"""

import os
import shutil
import subprocess
import sys

from e2e import check
from product import FACTS


def main(source, build):
    shutil.rmtree(build, ignore_errors=True)
    keys = os.path.join(build, "keys")
    os.makedirs(keys)
    password = os.path.join(keys, "password")
    with open(password, "w") as f:
        f.write("throwaway\n")
    for argv in (["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                  "/CN=reskeeper test", "-addext", "extendedKeyUsage=codeSigning", "-keyout",
                  "key.pem", "-out", "cert.pem"],
                 ["pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem", "-out", "cert.p12",
                  "-passout", "file:password"]):
        check(subprocess.run(["openssl"] + argv, cwd=keys, capture_output=True).returncode == 0,
              "openssl %s failed" % argv[0])
    for argv in (["--preset", "windows", "-B", build, "-DRESKEEPER_TESTS=OFF",
                  "-DRESKEEPER_SIGN_PKCS12=" + os.path.join(keys, "cert.p12"),
                  "-DRESKEEPER_SIGN_PASSWORD_FILE=" + password],
                 ["--build", build, "-j2", "--target", "msi"]):
        made = subprocess.run(["cmake"] + argv, cwd=source, capture_output=True, text=True)
        check(made.returncode == 0, "cmake %s failed:\n%s" % (argv[0], made.stdout + made.stderr))
    signed = [FACTS[name] for name in ("KEEPER_PROGRAM", "SESSION_PROGRAM", "CTL_PROGRAM",
                                       "SETTINGS_PROGRAM", "HELPER_PROGRAM")]
    signed += [name for name in os.listdir(build) if name.endswith(".msi")]
    check(len(signed) == 6, "no package in %s" % build)
    for name in signed:
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile",
                                   os.path.join(keys, "cert.pem"), "-in",
                                   os.path.join(build, name)], capture_output=True, text=True)
        check(verified.returncode == 0, "%s: %s" % (name, verified.stdout + verified.stderr))
    print("PASS signing: %s" % ", ".join(signed))
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
