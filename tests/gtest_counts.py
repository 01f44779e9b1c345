"""Prints "passed failed" from a GoogleTest JSON report (a missing report is one failure)."""
import json
import sys

try:
    with open(sys.argv[1], encoding="utf-8") as report:
        data = json.load(report)
except (OSError, ValueError):
    print(0, 1)
    sys.exit(0)

passed = failed = 0
for suite in data.get("testsuites", []):
    for case in suite.get("testsuite", []):
        if case.get("result") == "SKIPPED" or case.get("status") == "NOTRUN":
            continue
        if case.get("failures"):
            failed += 1
        else:
            passed += 1
print(passed, failed)
