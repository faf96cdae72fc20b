#!/usr/bin/env python3
"""Prints line and branch coverage per module from a gcovr JSON summary (scripts/coverage)."""
import json
import sys

# Rows: a module is the longest prefix here that a file's path starts with.
MODULES = [
    "foundation/", "fileparser/", "script/", "xobjects/", "xguiapp/",
    "demo/effect", "demo/", "platform/bass/", "platform/winapi/",
    "platform/", "tools/",
]
# The modules whose figures must reach the goals below.
GOAL_MODULES = {"foundation/", "fileparser/", "script/", "xobjects/", "xguiapp/", "demo/effect"}
LINE_GOAL, BRANCH_GOAL = 95.0, 85.0


def module_of(path):
    matches = [module for module in MODULES if path.startswith(module)]
    return max(matches, key=len) if matches else None


def percent(covered, total):
    return 100.0 * covered / total if total else 100.0


def main():
    with open(sys.argv[1], encoding="utf-8") as handle:
        summary = json.load(handle)
    totals = {module: [0, 0, 0, 0] for module in MODULES}
    for entry in summary["files"]:
        module = module_of(entry["filename"])
        if module is None:
            continue
        row = totals[module]
        row[0] += entry["line_covered"]
        row[1] += entry["line_total"]
        row[2] += entry["branch_covered"]
        row[3] += entry["branch_total"]
    print()
    print(f"{'module':<20} {'lines':>17} {'%':>6}  {'branches':>17} {'%':>6}  goal")
    all_rows = [0, 0, 0, 0]
    for module in MODULES:
        lines_hit, lines, branches_hit, branches = totals[module]
        if lines == 0:
            continue
        all_rows = [a + b for a, b in zip(all_rows, totals[module])]
        line_share, branch_share = percent(lines_hit, lines), percent(branches_hit, branches)
        goal = ""
        if module in GOAL_MODULES:
            goal = "met" if line_share >= LINE_GOAL and branch_share >= BRANCH_GOAL else "MISSED"
        print(f"{module:<20} {lines_hit:>8}/{lines:<8} {line_share:>6.1f}  "
              f"{branches_hit:>8}/{branches:<8} {branch_share:>6.1f}  {goal}".rstrip())
    print(f"{'all':<20} {all_rows[0]:>8}/{all_rows[1]:<8} {percent(all_rows[0], all_rows[1]):>6.1f}  "
          f"{all_rows[2]:>8}/{all_rows[3]:<8} {percent(all_rows[2], all_rows[3]):>6.1f}")
    print(f"goal: {LINE_GOAL:.0f} % of lines and {BRANCH_GOAL:.0f} % of branches in "
          + ", ".join(sorted(GOAL_MODULES)))


if __name__ == "__main__":
    main()
