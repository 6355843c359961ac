#!/usr/bin/env python3
"""Summarizes the callgrind profile of one quiet update (quiet_update_run with --toggle-collect on
RunProgram()): the total instruction count, what each step called by RunProgram() and RunUpdate()
costs with its callees, and the functions that execute the most instructions themselves.

  callgrind_report.py FILE [--json OUT]
"""
import argparse
import json
import re
import subprocess
import sys

LINE = re.compile(r"^\s*([\d,]+) \(\s*[\d.]+%\)\s+([*>])\s+(.*)$")
PLAIN = re.compile(r"^\s*([\d,]+) \(\s*[\d.]+%\)\s+(.*)$")


def annotate(path, *options):
    return subprocess.run(["callgrind_annotate", "--auto=no", "--threshold=100", *options, path],
                          capture_output=True, text=True, check=True).stdout.splitlines()


def short_name(location):
    """"dir/file.cpp:Name(args) (3x) [object]" -> "Name()"."""
    function = location.split(":", 1)[1] if ":" in location.split("(", 1)[0] else location
    function = re.sub(r"\[abi:\w+\]|\(anonymous namespace\)::| \[.*\]$", "", function)
    name, paren, _ = function.partition("(")
    return name.strip() + ("()" if paren else "")


def callees(tree, caller):
    """Inclusive instructions of each call made by `caller`, as the calling tree lists them."""
    costs = {}
    inside = False
    for line in tree:
        match = LINE.match(line)
        if not match:
            continue
        count, mark, location = match.groups()
        if mark == "*":
            inside = short_name(location) == caller
        elif inside:
            name = short_name(location)
            costs[name] = costs.get(name, 0) + int(count.replace(",", ""))
    return sorted(costs.items(), key=lambda item: -item[1])


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("profile")
    parser.add_argument("--json")
    arguments = parser.parse_args()
    flat = annotate(arguments.profile)
    total = next(int(PLAIN.match(line).group(1).replace(",", ""))
                 for line in flat if line.endswith("PROGRAM TOTALS"))
    own = {}
    for line in flat[flat.index(next(l for l in flat if l.endswith("file:function"))) + 2:]:
        match = PLAIN.match(line)
        if match:  # one function's lines inlined from several files are added up
            name = short_name(match.group(2))
            own[name] = own.get(name, 0) + int(match.group(1).replace(",", ""))
    own = sorted(own.items(), key=lambda item: -item[1])
    tree = annotate(arguments.profile, "--inclusive=yes", "--tree=calling")
    steps = callees(tree, "RunProgram()")[:4] + callees(tree, "RunUpdate()")[:8]
    print(f"Instructions (Ir) of one quiet update, RunProgram() and its callees: {total:,}")
    print("Steps, with their callees:")
    for name, count in steps:
        print(f"  {count:>13,} {100 * count / total:6.2f}%  {name}")
    print("Functions by their own instructions:")
    for name, count in own[:8]:
        print(f"  {count:>13,} {100 * count / total:6.2f}%  {name}")
    if arguments.json:
        with open(arguments.json, "w") as out:
            json.dump({"total_ir": total, "steps": steps, "own": own[:8]}, out, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
