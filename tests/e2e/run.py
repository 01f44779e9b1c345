"""Runs the end-to-end tests (tests/e2e/test_*.py) against one build of the program.

    run.py --program build/tarvex
    run.py --program build-win/tarvex.exe --wine

Writes "passed failed" to the --summary file and exits non-zero on any failure.
"""
import argparse
import os
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


class CountingResult(unittest.TextTestResult):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.passed = 0
        self.started_at = {}

    def startTest(self, test):
        self.started_at[test.id()] = time.monotonic()
        super().startTest(test)

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--summary")
    parser.add_argument("-k", dest="pattern", action="append", help="only tests whose name holds this text")
    args = parser.parse_args()

    os.environ["TARVEX_PROGRAM"] = os.path.abspath(args.program)
    os.environ["TARVEX_WINE"] = "1" if args.wine else ""
    sys.path.insert(0, HERE)

    loader = unittest.TestLoader()
    if args.pattern:
        loader.testNamePatterns = ["*%s*" % p for p in args.pattern]
    suite = loader.discover(HERE, pattern="test_*.py", top_level_dir=HERE)
    runner = unittest.TextTestRunner(verbosity=1, resultclass=CountingResult, stream=sys.stdout)
    result = runner.run(suite)
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    if args.summary:
        with open(args.summary, "w", encoding="utf-8") as summary:
            summary.write("%d %d\n" % (result.passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
