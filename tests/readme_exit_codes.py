#!/usr/bin/env python3
"""The README's table of the setup's exit codes lists exactly the codes the build knows
(packaging/product.cmake), each once.

    readme_exit_codes.py README PRODUCT_JSON"""

import json
import re
import sys


def table_codes(readme):
    """The first column of the table that follows the "**Exit codes**" paragraph."""
    lines = open(readme, encoding="utf-8").read().splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith("**Exit codes**"))
    rows = []
    for line in lines[start:]:
        if rows and not line.startswith("|"):
            break
        match = re.match(r"\|\s*(\d+)\s*\|", line)
        if match:
            rows.append(int(match[1]))
    return rows


def main(readme, facts):
    known = json.load(open(facts))["SETUP_EXITS"]
    listed = table_codes(readme)
    problems = ["%d is listed %d times" % (code, listed.count(code))
                for code in sorted(set(listed)) if listed.count(code) > 1]
    problems += ["%d (%s) is not listed" % (code, name) for name, code in sorted(
        known.items(), key=lambda item: item[1]) if code not in listed]
    problems += ["%d is listed but the build knows no such code" % code
                 for code in sorted(set(listed) - set(known.values()))]
    for problem in problems:
        print("FAIL: the README's exit codes: %s" % problem)
    if not problems:
        print("PASS: the README lists the setup's %d exit codes" % len(known))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
