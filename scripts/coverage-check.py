"""Holds gcovr's JSON report of qmis/ to the rules of `make coverage`:
every line runs, and every branch no test takes is listed with its reason.

usage: coverage-check.py REPORT.json BRANCHES.txt

BRANCHES.txt holds one entry a line: "file | source line, stripped |
reason". An entry names every untaken branch of that line."""
import json
import sys


def main(report_path, branches_path):
    report = json.load(open(report_path))
    listed = {}
    for entry in open(branches_path):
        entry = entry.strip()
        if not entry or entry.startswith("#"):
            continue
        path, source, reason = (part.strip() for part in entry.split(" | ", 2))
        listed[(path, source)] = reason

    lines = branches = taken = covered = 0
    failures, explained = [], set()
    for report_file in report["files"]:
        path = report_file["file"]
        source = open(path, encoding="utf-8").read().split("\n")
        for line in report_file["lines"]:
            if line.get("gcovr/noncode"):
                continue
            number = line["line_number"]
            text = source[number - 1].strip()
            lines += 1
            if line["count"] == 0:
                failures.append(f"{path}:{number}: no test runs this line: {text}")
            else:
                covered += 1
            counts = [branch["count"] for branch in line.get("branches", [])]
            branches += len(counts)
            taken += sum(1 for count in counts if count > 0)
            if any(count == 0 for count in counts):
                if (path, text) in listed:
                    explained.add((path, text))
                else:
                    failures.append(f"{path}:{number}: a branch no test takes, not listed "
                                    f"in scripts/coverage-branches.txt: {text}")

    print(f"coverage of qmis/: lines {covered} of {lines} ({100 * covered / lines:.1f} %), "
          f"branches {taken} of {branches} ({100 * taken / branches:.1f} %)")
    print("branches no test takes, and why:")
    for (path, text), reason in sorted(listed.items()):
        mark = "" if (path, text) in explained else " (now taken: drop it from the list)"
        print(f"  {path}: {text}\n      {reason}{mark}")
    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
