#!/usr/bin/env python3
"""The winget manifests the windows build writes: the fields winget requires in each file,
one package and version throughout, and installers that are the built files (their SHA-256,
the MSI's product code, the silent switches, machine scope).

    winget.py MANIFEST_FOLDER BUILD_FOLDER VERSION    (77: not built yet)"""

import hashlib
import os
import re
import subprocess
import sys

import yaml

REQUIRED = {
    "version": {"PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType",
                "ManifestVersion"},
    "installer": {"PackageIdentifier", "PackageVersion", "Installers", "ManifestType",
                  "ManifestVersion"},
    "defaultLocale": {"PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher",
                      "PackageName", "License", "ShortDescription", "ManifestType",
                      "ManifestVersion"},
}
SILENT = {"nullsoft": "/S", "msi": "/qn"}


def main(folder, build, version):
    if not os.path.isdir(folder):
        print("SKIPPED: %s is not written yet" % folder)
        return 77
    problems = []
    manifests = {}
    for name in sorted(os.listdir(folder)):
        text = open(os.path.join(folder, name), encoding="utf-8").read()
        manifest = yaml.safe_load(text)
        kind = manifest.get("ManifestType")
        manifests[kind] = manifest
        missing = REQUIRED.get(kind, {"ManifestType"}) - manifest.keys()
        schema = re.match(r"# yaml-language-server: \$schema=https://aka\.ms/winget-manifest\."
                          r"(\w+)\.([\d.]+)\.schema\.json\n", text)
        if missing or not schema or schema.groups() != (kind, manifest["ManifestVersion"]):
            problems.append("%s: missing %s, schema line %s" % (name, missing, schema))
        if (manifest.get("PackageIdentifier"), manifest.get("PackageVersion")) != (
                "reskeeper.reskeeper", version):
            problems.append("%s: another package or version" % name)
    if manifests.keys() != REQUIRED.keys():
        problems.append("manifests: %s" % sorted(manifests))
    installer = manifests.get("installer", {})
    kinds = []
    for entry in installer.get("Installers", []):
        kind = entry.get("InstallerType")
        kinds.append(kind)
        path = os.path.join(build, entry["InstallerUrl"].rsplit("/", 1)[-1])
        digest = hashlib.sha256(open(path, "rb").read()).hexdigest() if os.path.isfile(
            path) else None
        if entry.get("InstallerSha256", "").lower() != digest:
            problems.append("%s: the SHA-256 is not that of %s" % (kind, path))
        if entry.get("InstallerSwitches", {}).get("Silent") != SILENT.get(kind):
            problems.append("%s: silent switch %s" % (kind, entry.get("InstallerSwitches")))
        if kind == "msi":
            properties = subprocess.run(["msiinfo", "export", path, "Property"],
                                        capture_output=True, text=True).stdout
            code = re.search(r"^ProductCode\t(\S+)$", properties, re.M)
            if not code or entry.get("ProductCode") != code[1]:
                problems.append("msi: ProductCode %s" % entry.get("ProductCode"))
    if sorted(kinds) != ["msi", "nullsoft"] or installer.get("Scope") != "machine":
        problems.append("installers %s, scope %s" % (kinds, installer.get("Scope")))
    print("\n".join(problems) or "PASS winget")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
