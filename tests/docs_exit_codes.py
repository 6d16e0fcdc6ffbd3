#!/usr/bin/env python3
"""The documentation lists exactly the exit codes the build knows, each once: the package's
helper's (packaging/product.cmake) in docs/windows.md's table and, given reskeeperctl, its exit
statuses (as its --help lists them) in docs/using.md's table and its manual page's EXIT STATUS.

    docs_exit_codes.py DOCS_FOLDER PRODUCT_JSON [RESKEEPERCTL MANUAL_PAGE]"""

import json
import os
import re
import subprocess
import sys


def table_codes(readme, heading):
    """The first column of the first table after the line that starts with `heading`."""
    lines = open(readme, encoding="utf-8").read().splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith(heading))
    rows = []
    for line in lines[start:]:
        if rows and not line.startswith("|"):
            break
        match = re.match(r"\|\s*(\d+)\s*\|", line)
        if match:
            rows.append(int(match[1]))
    return rows


def compare(what, known, listed):
    """The problems of `listed` (codes in the documentation's order) against `known` ({name: code})."""
    problems = ["%d is listed %d times" % (code, listed.count(code))
                for code in sorted(set(listed)) if listed.count(code) > 1]
    problems += ["%d (%s) is not listed" % (code, name) for name, code in sorted(
        known.items(), key=lambda item: item[1]) if code not in listed]
    problems += ["%d is listed but the build knows no such code" % code
                 for code in sorted(set(listed) - set(known.values()))]
    for problem in problems:
        print("FAIL: the documentation's %s: %s" % (what, problem))
    if not problems:
        print("PASS: the documentation lists all %d %s" % (len(known), what))
    return problems


def manual_codes(manual):
    """The codes of the EXIT STATUS section of a manual page: each `.B N` after a `.TP`."""
    text = open(manual, encoding="utf-8").read()
    section = text[text.index(".SH EXIT STATUS"):]
    section = section[:section.find("\n.SH", 1) % len(section)]
    return [int(code) for code in re.findall(r"^\.TP\n\.B (\d+)$", section, re.M)]


def ctl_statuses(ctl):
    """{words: status} from the "Exit statuses:" paragraph of reskeeperctl --help."""
    text = subprocess.run([ctl, "--help"], capture_output=True, text=True, check=True).stdout
    paragraph = " ".join(text[text.index("Exit statuses:"):].split())
    return {words: int(code) for code, words in
            re.findall(r"(\d+) ([^,.]+)[,.]", paragraph)}


def main(docs, facts, ctl=None, manual=None):
    problems = compare("exit codes of the package's helper",
                       json.load(open(facts))["HELPER_EXITS"],
                       table_codes(os.path.join(docs, "windows.md"), "| helper's code |"))
    if ctl:
        statuses = ctl_statuses(ctl)
        problems += compare("exit statuses of reskeeperctl", statuses,
                            table_codes(os.path.join(docs, "using.md"), "| status | meaning |"))
        problems += compare("exit statuses in reskeeperctl's manual page", statuses,
                            manual_codes(manual))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
