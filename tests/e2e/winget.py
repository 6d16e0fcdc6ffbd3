#!/usr/bin/env python3
"""The winget manifests: required fields and schema line, one package and version, and one
installer, the built Windows Installer package (SHA-256, product code, silent switch, machine
scope).
    winget.py MANIFEST_FOLDER BUILD_FOLDER VERSION    (77: not written yet)"""

import hashlib
import os
import re
import subprocess
import sys

import yaml

BASE = {"PackageIdentifier", "PackageVersion", "ManifestType", "ManifestVersion"}
REQUIRED = {"version": BASE | {"DefaultLocale"}, "installer": BASE | {"Installers"},
            "defaultLocale": BASE | {"PackageLocale", "Publisher", "PackageName", "License",
                                     "ShortDescription"}}
SILENT = {"msi": "/qn"}


def main(folder, build, version):
    if not os.path.isdir(folder):
        print("SKIPPED: %s is not written yet" % folder)
        return 77
    problems, manifests = [], {}
    for name in sorted(os.listdir(folder)):
        text = open(os.path.join(folder, name), encoding="utf-8").read()
        manifest = yaml.safe_load(text)
        kind = manifest.get("ManifestType")
        manifests[kind] = manifest
        schema = re.match(r"# yaml-language-server: \$schema=https://aka\.ms/winget-manifest\."
                          r"(\w+)\.([\d.]+)\.schema\.json\n", text)
        if (REQUIRED.get(kind, {""}) - manifest.keys() or not schema or
                schema.groups() != (kind.lower(), manifest["ManifestVersion"]) or
                (manifest["PackageIdentifier"], manifest["PackageVersion"]) !=
                ("reskeeper.reskeeper", version)):
            problems.append("%s: fields %s, schema line %s" % (name, sorted(manifest), schema))
    installers = manifests.get("installer", {})
    for entry in installers.get("Installers", []):
        kind, path = entry["InstallerType"], os.path.join(build, entry["InstallerUrl"][
            entry["InstallerUrl"].rindex("/") + 1:])
        digest = hashlib.sha256(open(path, "rb").read()).hexdigest().upper()
        code = subprocess.run(["msiinfo", "export", path, "Property"], capture_output=True,
                              text=True).stdout if kind == "msi" else ""
        if (entry["InstallerSha256"] != digest or entry["InstallerSwitches"]["Silent"] !=
                SILENT[kind] or entry.get("ProductCode", "") not in code):
            problems.append("%s: %s" % (kind, entry))
    if manifests.keys() != REQUIRED.keys() or installers.get("Scope") != "machine" or sorted(
            e["InstallerType"] for e in installers.get("Installers", [])) != ["msi"]:
        problems.append("manifests %s, installers %s" % (sorted(manifests), installers))
    print("\n".join(problems) or "PASS winget")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
